#!/usr/bin/env python3
# Writes pos1..pos6 and expected.txt here: run from this folder.
# Independent computation of imu-calibrate's expected output for a mounting
# rotated by roll 3, pitch -2, yaw 1.5 degrees (readings in g).
import math
def rot(roll, pitch, yaw):
    r, p, y = map(math.radians, (roll, pitch, yaw))
    cr, sr, cp, sp, cy, sy = math.cos(r), math.sin(r), math.cos(p), math.sin(p), math.cos(y), math.sin(y)
    # rows chosen so that Roll=atan2(Q12,Q22), Pitch=atan2(-Q02,..), Yaw=atan2(Q01,Q00)
    return [[cp*cy, cp*sy, -sp],
            [sr*sp*cy - cr*sy, sr*sp*sy + cr*cy, sr*cp],
            [cr*sp*cy + sr*sy, cr*sp*sy - sr*cy, cr*cp]]
Q = rot(3, -2, 1.5)
noise = [(0.0021, -0.0013, 0.0008), (-0.0021, 0.0013, -0.0008), (0.0011, 0.0004, -0.0017), (-0.0011, -0.0004, 0.0017)]
files = []
for k in range(6):
    col = k // 2
    scale = 1.0 if k % 2 == 0 else 0.98   # two recordings per axis, one slightly weaker
    mean = [-Q[i][col] * scale for i in range(3)]
    lines = ["%.6f,%.6f,%.6f" % tuple(mean[i] + n[i] for i in range(3)) for n in noise]
    files.append(lines)
    open("pos%d" % (k + 1), "w").write("\n".join(lines) + "\n")

def parse(lines):
    xs = [[float(v) for v in l.split(",")] for l in lines]
    return [[x[i] for x in xs] for i in range(3)]
def mean(v): return sum(v) / len(v)
def sd(v):
    m = mean(v); return math.sqrt(sum((d - m) ** 2 for d in v) / len(v))
def g(v):
    return "%.6g" % v
def mat(rows):
    cells = [[g(v) for v in r] for r in rows]
    w = max(len(c) for r in cells for c in r)
    return "\n".join(" ".join(c.rjust(w) for c in r) for r in cells)
M, S, U, N = [], [], [], []
for lines in files:
    a = parse(lines)
    m = [mean(v) for v in a]
    n = math.sqrt(sum(v * v for v in m))
    M.append(m); N.append(n); S.append([sd(v) / n for v in a]); U.append([(0 - v) / n for v in m])
R = [[(U[2 * j][i] + U[2 * j + 1][i]) / 2 for j in range(3)] for i in range(3)]
deg = lambda r: r * 180 / 3.141592653589793
roll = deg(math.atan2(R[1][2], R[2][2]))
pitch = deg(math.atan2(-R[0][2], math.sqrt(R[2][2] ** 2 + R[1][2] ** 2)))
yaw = deg(math.atan2(R[0][1], R[0][0]))
out = "Rotation Matrix:\n" + mat(R) + "\n\n"
for k in range(6): out += "Mean_pos%d=\n" % (k + 1) + mat([[v] for v in M[k]]) + "\n"
for k in range(6): out += "SD_pos%d=\n" % (k + 1) + mat([[v] for v in S[k]]) + "\n"
out += "norm\n" + "".join(g(n) + "\n" for n in N)
out += "Roll=\n%s\nPitch=\n%s\nYaw=\n%s\n" % (g(roll), g(pitch), g(yaw))
open("expected.txt", "w").write(out)
