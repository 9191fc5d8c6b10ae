// Fixed-point FFT kernel, Hann window and helpers.
#include "integer_fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <complex>
#include <limits>

// One full sine period: entry k = 32767 * sin(2*pi*k/2048), truncated toward zero.
const fixed FixedFft::Sinewave[SINEWAVE_SIZE] = {
    0, 100, 201, 301, 402, 502, 603, 703, 804, 904, 1005, 1105, 1206, 1306, 1406, 1507,
    1607, 1708, 1808, 1908, 2009, 2109, 2209, 2310, 2410, 2510, 2610, 2711, 2811, 2911, 3011, 3111,
    3211, 3311, 3411, 3511, 3611, 3711, 3811, 3911, 4011, 4110, 4210, 4310, 4409, 4509, 4608, 4708,
    4807, 4907, 5006, 5106, 5205, 5304, 5403, 5502, 5601, 5700, 5799, 5898, 5997, 6096, 6195, 6293,
    6392, 6491, 6589, 6688, 6786, 6884, 6982, 7081, 7179, 7277, 7375, 7473, 7571, 7668, 7766, 7864,
    7961, 8059, 8156, 8253, 8351, 8448, 8545, 8642, 8739, 8836, 8932, 9029, 9126, 9222, 9319, 9415,
    9511, 9607, 9703, 9799, 9895, 9991, 10087, 10182, 10278, 10373, 10469, 10564, 10659, 10754, 10849, 10944,
    11038, 11133, 11227, 11322, 11416, 11510, 11604, 11698, 11792, 11886, 11980, 12073, 12166, 12260, 12353, 12446,
    12539, 12632, 12724, 12817, 12909, 13002, 13094, 13186, 13278, 13370, 13462, 13553, 13645, 13736, 13827, 13918,
    14009, 14100, 14191, 14281, 14372, 14462, 14552, 14642, 14732, 14822, 14911, 15001, 15090, 15179, 15268, 15357,
    15446, 15534, 15623, 15711, 15799, 15887, 15975, 16063, 16150, 16238, 16325, 16412, 16499, 16586, 16672, 16759,
    16845, 16931, 17017, 17103, 17189, 17274, 17360, 17445, 17530, 17615, 17699, 17784, 17868, 17952, 18036, 18120,
    18204, 18287, 18371, 18454, 18537, 18620, 18702, 18785, 18867, 18949, 19031, 19113, 19194, 19276, 19357, 19438,
    19519, 19599, 19680, 19760, 19840, 19920, 20000, 20079, 20159, 20238, 20317, 20396, 20474, 20553, 20631, 20709,
    20787, 20864, 20942, 21019, 21096, 21173, 21249, 21326, 21402, 21478, 21554, 21629, 21705, 21780, 21855, 21930,
    22004, 22079, 22153, 22227, 22301, 22374, 22448, 22521, 22594, 22666, 22739, 22811, 22883, 22955, 23027, 23098,
    23169, 23240, 23311, 23382, 23452, 23522, 23592, 23661, 23731, 23800, 23869, 23938, 24006, 24075, 24143, 24211,
    24278, 24346, 24413, 24480, 24546, 24613, 24679, 24745, 24811, 24877, 24942, 25007, 25072, 25136, 25201, 25265,
    25329, 25392, 25456, 25519, 25582, 25645, 25707, 25769, 25831, 25893, 25954, 26016, 26077, 26137, 26198, 26258,
    26318, 26378, 26437, 26497, 26556, 26615, 26673, 26731, 26789, 26847, 26905, 26962, 27019, 27076, 27132, 27188,
    27244, 27300, 27355, 27411, 27466, 27520, 27575, 27629, 27683, 27736, 27790, 27843, 27896, 27948, 28001, 28053,
    28105, 28156, 28208, 28259, 28309, 28360, 28410, 28460, 28510, 28559, 28608, 28657, 28706, 28754, 28802, 28850,
    28897, 28945, 28992, 29038, 29085, 29131, 29177, 29222, 29268, 29313, 29358, 29402, 29446, 29490, 29534, 29577,
    29621, 29663, 29706, 29748, 29790, 29832, 29873, 29915, 29955, 29996, 30036, 30076, 30116, 30156, 30195, 30234,
    30272, 30311, 30349, 30386, 30424, 30461, 30498, 30535, 30571, 30607, 30643, 30678, 30713, 30748, 30783, 30817,
    30851, 30885, 30918, 30951, 30984, 31017, 31049, 31081, 31113, 31144, 31175, 31206, 31236, 31267, 31297, 31326,
    31356, 31385, 31413, 31442, 31470, 31498, 31525, 31553, 31580, 31606, 31633, 31659, 31684, 31710, 31735, 31760,
    31785, 31809, 31833, 31856, 31880, 31903, 31926, 31948, 31970, 31992, 32014, 32035, 32056, 32077, 32097, 32117,
    32137, 32156, 32176, 32194, 32213, 32231, 32249, 32267, 32284, 32301, 32318, 32334, 32350, 32366, 32382, 32397,
    32412, 32426, 32441, 32455, 32468, 32482, 32495, 32508, 32520, 32532, 32544, 32556, 32567, 32578, 32588, 32599,
    32609, 32618, 32628, 32637, 32646, 32654, 32662, 32670, 32678, 32685, 32692, 32699, 32705, 32711, 32717, 32722,
    32727, 32732, 32736, 32740, 32744, 32748, 32751, 32754, 32757, 32759, 32761, 32763, 32764, 32765, 32766, 32766,
    32767, 32766, 32766, 32765, 32764, 32763, 32761, 32759, 32757, 32754, 32751, 32748, 32744, 32740, 32736, 32732,
    32727, 32722, 32717, 32711, 32705, 32699, 32692, 32685, 32678, 32670, 32662, 32654, 32646, 32637, 32628, 32618,
    32609, 32599, 32588, 32578, 32567, 32556, 32544, 32532, 32520, 32508, 32495, 32482, 32468, 32455, 32441, 32426,
    32412, 32397, 32382, 32366, 32350, 32334, 32318, 32301, 32284, 32267, 32249, 32231, 32213, 32194, 32176, 32156,
    32137, 32117, 32097, 32077, 32056, 32035, 32014, 31992, 31970, 31948, 31926, 31903, 31880, 31856, 31833, 31809,
    31785, 31760, 31735, 31710, 31684, 31659, 31633, 31606, 31580, 31553, 31525, 31498, 31470, 31442, 31413, 31385,
    31356, 31326, 31297, 31267, 31236, 31206, 31175, 31144, 31113, 31081, 31049, 31017, 30984, 30951, 30918, 30885,
    30851, 30817, 30783, 30748, 30713, 30678, 30643, 30607, 30571, 30535, 30498, 30461, 30424, 30386, 30349, 30311,
    30272, 30234, 30195, 30156, 30116, 30076, 30036, 29996, 29955, 29915, 29873, 29832, 29790, 29748, 29706, 29663,
    29621, 29577, 29534, 29490, 29446, 29402, 29358, 29313, 29268, 29222, 29177, 29131, 29085, 29038, 28992, 28945,
    28897, 28850, 28802, 28754, 28706, 28657, 28608, 28559, 28510, 28460, 28410, 28360, 28309, 28259, 28208, 28156,
    28105, 28053, 28001, 27948, 27896, 27843, 27790, 27736, 27683, 27629, 27575, 27520, 27466, 27411, 27355, 27300,
    27244, 27188, 27132, 27076, 27019, 26962, 26905, 26847, 26789, 26731, 26673, 26615, 26556, 26497, 26437, 26378,
    26318, 26258, 26198, 26137, 26077, 26016, 25954, 25893, 25831, 25769, 25707, 25645, 25582, 25519, 25456, 25392,
    25329, 25265, 25201, 25136, 25072, 25007, 24942, 24877, 24811, 24745, 24679, 24613, 24546, 24480, 24413, 24346,
    24278, 24211, 24143, 24075, 24006, 23938, 23869, 23800, 23731, 23661, 23592, 23522, 23452, 23382, 23311, 23240,
    23169, 23098, 23027, 22955, 22883, 22811, 22739, 22666, 22594, 22521, 22448, 22374, 22301, 22227, 22153, 22079,
    22004, 21930, 21855, 21780, 21705, 21629, 21554, 21478, 21402, 21326, 21249, 21173, 21096, 21019, 20942, 20864,
    20787, 20709, 20631, 20553, 20474, 20396, 20317, 20238, 20159, 20079, 20000, 19920, 19840, 19760, 19680, 19599,
    19519, 19438, 19357, 19276, 19194, 19113, 19031, 18949, 18867, 18785, 18702, 18620, 18537, 18454, 18371, 18287,
    18204, 18120, 18036, 17952, 17868, 17784, 17699, 17615, 17530, 17445, 17360, 17274, 17189, 17103, 17017, 16931,
    16845, 16759, 16672, 16586, 16499, 16412, 16325, 16238, 16150, 16063, 15975, 15887, 15799, 15711, 15623, 15534,
    15446, 15357, 15268, 15179, 15090, 15001, 14911, 14822, 14732, 14642, 14552, 14462, 14372, 14281, 14191, 14100,
    14009, 13918, 13827, 13736, 13645, 13553, 13462, 13370, 13278, 13186, 13094, 13002, 12909, 12817, 12724, 12632,
    12539, 12446, 12353, 12260, 12166, 12073, 11980, 11886, 11792, 11698, 11604, 11510, 11416, 11322, 11227, 11133,
    11038, 10944, 10849, 10754, 10659, 10564, 10469, 10373, 10278, 10182, 10087, 9991, 9895, 9799, 9703, 9607,
    9511, 9415, 9319, 9222, 9126, 9029, 8932, 8836, 8739, 8642, 8545, 8448, 8351, 8253, 8156, 8059,
    7961, 7864, 7766, 7668, 7571, 7473, 7375, 7277, 7179, 7081, 6982, 6884, 6786, 6688, 6589, 6491,
    6392, 6293, 6195, 6096, 5997, 5898, 5799, 5700, 5601, 5502, 5403, 5304, 5205, 5106, 5006, 4907,
    4807, 4708, 4608, 4509, 4409, 4310, 4210, 4110, 4011, 3911, 3811, 3711, 3611, 3511, 3411, 3311,
    3211, 3111, 3011, 2911, 2811, 2711, 2610, 2510, 2410, 2310, 2209, 2109, 2009, 1908, 1808, 1708,
    1607, 1507, 1406, 1306, 1206, 1105, 1005, 904, 804, 703, 603, 502, 402, 301, 201, 100,
    0, -100, -201, -301, -402, -502, -603, -703, -804, -904, -1005, -1105, -1206, -1306, -1406, -1507,
    -1607, -1708, -1808, -1908, -2009, -2109, -2209, -2310, -2410, -2510, -2610, -2711, -2811, -2911, -3011, -3111,
    -3211, -3311, -3411, -3511, -3611, -3711, -3811, -3911, -4011, -4110, -4210, -4310, -4409, -4509, -4608, -4708,
    -4807, -4907, -5006, -5106, -5205, -5304, -5403, -5502, -5601, -5700, -5799, -5898, -5997, -6096, -6195, -6293,
    -6392, -6491, -6589, -6688, -6786, -6884, -6982, -7081, -7179, -7277, -7375, -7473, -7571, -7668, -7766, -7864,
    -7961, -8059, -8156, -8253, -8351, -8448, -8545, -8642, -8739, -8836, -8932, -9029, -9126, -9222, -9319, -9415,
    -9511, -9607, -9703, -9799, -9895, -9991, -10087, -10182, -10278, -10373, -10469, -10564, -10659, -10754, -10849, -10944,
    -11038, -11133, -11227, -11322, -11416, -11510, -11604, -11698, -11792, -11886, -11980, -12073, -12166, -12260, -12353, -12446,
    -12539, -12632, -12724, -12817, -12909, -13002, -13094, -13186, -13278, -13370, -13462, -13553, -13645, -13736, -13827, -13918,
    -14009, -14100, -14191, -14281, -14372, -14462, -14552, -14642, -14732, -14822, -14911, -15001, -15090, -15179, -15268, -15357,
    -15446, -15534, -15623, -15711, -15799, -15887, -15975, -16063, -16150, -16238, -16325, -16412, -16499, -16586, -16672, -16759,
    -16845, -16931, -17017, -17103, -17189, -17274, -17360, -17445, -17530, -17615, -17699, -17784, -17868, -17952, -18036, -18120,
    -18204, -18287, -18371, -18454, -18537, -18620, -18702, -18785, -18867, -18949, -19031, -19113, -19194, -19276, -19357, -19438,
    -19519, -19599, -19680, -19760, -19840, -19920, -20000, -20079, -20159, -20238, -20317, -20396, -20474, -20553, -20631, -20709,
    -20787, -20864, -20942, -21019, -21096, -21173, -21249, -21326, -21402, -21478, -21554, -21629, -21705, -21780, -21855, -21930,
    -22004, -22079, -22153, -22227, -22301, -22374, -22448, -22521, -22594, -22666, -22739, -22811, -22883, -22955, -23027, -23098,
    -23169, -23240, -23311, -23382, -23452, -23522, -23592, -23661, -23731, -23800, -23869, -23938, -24006, -24075, -24143, -24211,
    -24278, -24346, -24413, -24480, -24546, -24613, -24679, -24745, -24811, -24877, -24942, -25007, -25072, -25136, -25201, -25265,
    -25329, -25392, -25456, -25519, -25582, -25645, -25707, -25769, -25831, -25893, -25954, -26016, -26077, -26137, -26198, -26258,
    -26318, -26378, -26437, -26497, -26556, -26615, -26673, -26731, -26789, -26847, -26905, -26962, -27019, -27076, -27132, -27188,
    -27244, -27300, -27355, -27411, -27466, -27520, -27575, -27629, -27683, -27736, -27790, -27843, -27896, -27948, -28001, -28053,
    -28105, -28156, -28208, -28259, -28309, -28360, -28410, -28460, -28510, -28559, -28608, -28657, -28706, -28754, -28802, -28850,
    -28897, -28945, -28992, -29038, -29085, -29131, -29177, -29222, -29268, -29313, -29358, -29402, -29446, -29490, -29534, -29577,
    -29621, -29663, -29706, -29748, -29790, -29832, -29873, -29915, -29955, -29996, -30036, -30076, -30116, -30156, -30195, -30234,
    -30272, -30311, -30349, -30386, -30424, -30461, -30498, -30535, -30571, -30607, -30643, -30678, -30713, -30748, -30783, -30817,
    -30851, -30885, -30918, -30951, -30984, -31017, -31049, -31081, -31113, -31144, -31175, -31206, -31236, -31267, -31297, -31326,
    -31356, -31385, -31413, -31442, -31470, -31498, -31525, -31553, -31580, -31606, -31633, -31659, -31684, -31710, -31735, -31760,
    -31785, -31809, -31833, -31856, -31880, -31903, -31926, -31948, -31970, -31992, -32014, -32035, -32056, -32077, -32097, -32117,
    -32137, -32156, -32176, -32194, -32213, -32231, -32249, -32267, -32284, -32301, -32318, -32334, -32350, -32366, -32382, -32397,
    -32412, -32426, -32441, -32455, -32468, -32482, -32495, -32508, -32520, -32532, -32544, -32556, -32567, -32578, -32588, -32599,
    -32609, -32618, -32628, -32637, -32646, -32654, -32662, -32670, -32678, -32685, -32692, -32699, -32705, -32711, -32717, -32722,
    -32727, -32732, -32736, -32740, -32744, -32748, -32751, -32754, -32757, -32759, -32761, -32763, -32764, -32765, -32766, -32766,
    -32767, -32766, -32766, -32765, -32764, -32763, -32761, -32759, -32757, -32754, -32751, -32748, -32744, -32740, -32736, -32732,
    -32727, -32722, -32717, -32711, -32705, -32699, -32692, -32685, -32678, -32670, -32662, -32654, -32646, -32637, -32628, -32618,
    -32609, -32599, -32588, -32578, -32567, -32556, -32544, -32532, -32520, -32508, -32495, -32482, -32468, -32455, -32441, -32426,
    -32412, -32397, -32382, -32366, -32350, -32334, -32318, -32301, -32284, -32267, -32249, -32231, -32213, -32194, -32176, -32156,
    -32137, -32117, -32097, -32077, -32056, -32035, -32014, -31992, -31970, -31948, -31926, -31903, -31880, -31856, -31833, -31809,
    -31785, -31760, -31735, -31710, -31684, -31659, -31633, -31606, -31580, -31553, -31525, -31498, -31470, -31442, -31413, -31385,
    -31356, -31326, -31297, -31267, -31236, -31206, -31175, -31144, -31113, -31081, -31049, -31017, -30984, -30951, -30918, -30885,
    -30851, -30817, -30783, -30748, -30713, -30678, -30643, -30607, -30571, -30535, -30498, -30461, -30424, -30386, -30349, -30311,
    -30272, -30234, -30195, -30156, -30116, -30076, -30036, -29996, -29955, -29915, -29873, -29832, -29790, -29748, -29706, -29663,
    -29621, -29577, -29534, -29490, -29446, -29402, -29358, -29313, -29268, -29222, -29177, -29131, -29085, -29038, -28992, -28945,
    -28897, -28850, -28802, -28754, -28706, -28657, -28608, -28559, -28510, -28460, -28410, -28360, -28309, -28259, -28208, -28156,
    -28105, -28053, -28001, -27948, -27896, -27843, -27790, -27736, -27683, -27629, -27575, -27520, -27466, -27411, -27355, -27300,
    -27244, -27188, -27132, -27076, -27019, -26962, -26905, -26847, -26789, -26731, -26673, -26615, -26556, -26497, -26437, -26378,
    -26318, -26258, -26198, -26137, -26077, -26016, -25954, -25893, -25831, -25769, -25707, -25645, -25582, -25519, -25456, -25392,
    -25329, -25265, -25201, -25136, -25072, -25007, -24942, -24877, -24811, -24745, -24679, -24613, -24546, -24480, -24413, -24346,
    -24278, -24211, -24143, -24075, -24006, -23938, -23869, -23800, -23731, -23661, -23592, -23522, -23452, -23382, -23311, -23240,
    -23169, -23098, -23027, -22955, -22883, -22811, -22739, -22666, -22594, -22521, -22448, -22374, -22301, -22227, -22153, -22079,
    -22004, -21930, -21855, -21780, -21705, -21629, -21554, -21478, -21402, -21326, -21249, -21173, -21096, -21019, -20942, -20864,
    -20787, -20709, -20631, -20553, -20474, -20396, -20317, -20238, -20159, -20079, -20000, -19920, -19840, -19760, -19680, -19599,
    -19519, -19438, -19357, -19276, -19194, -19113, -19031, -18949, -18867, -18785, -18702, -18620, -18537, -18454, -18371, -18287,
    -18204, -18120, -18036, -17952, -17868, -17784, -17699, -17615, -17530, -17445, -17360, -17274, -17189, -17103, -17017, -16931,
    -16845, -16759, -16672, -16586, -16499, -16412, -16325, -16238, -16150, -16063, -15975, -15887, -15799, -15711, -15623, -15534,
    -15446, -15357, -15268, -15179, -15090, -15001, -14911, -14822, -14732, -14642, -14552, -14462, -14372, -14281, -14191, -14100,
    -14009, -13918, -13827, -13736, -13645, -13553, -13462, -13370, -13278, -13186, -13094, -13002, -12909, -12817, -12724, -12632,
    -12539, -12446, -12353, -12260, -12166, -12073, -11980, -11886, -11792, -11698, -11604, -11510, -11416, -11322, -11227, -11133,
    -11038, -10944, -10849, -10754, -10659, -10564, -10469, -10373, -10278, -10182, -10087, -9991, -9895, -9799, -9703, -9607,
    -9511, -9415, -9319, -9222, -9126, -9029, -8932, -8836, -8739, -8642, -8545, -8448, -8351, -8253, -8156, -8059,
    -7961, -7864, -7766, -7668, -7571, -7473, -7375, -7277, -7179, -7081, -6982, -6884, -6786, -6688, -6589, -6491,
    -6392, -6293, -6195, -6096, -5997, -5898, -5799, -5700, -5601, -5502, -5403, -5304, -5205, -5106, -5006, -4907,
    -4807, -4708, -4608, -4509, -4409, -4310, -4210, -4110, -4011, -3911, -3811, -3711, -3611, -3511, -3411, -3311,
    -3211, -3111, -3011, -2911, -2811, -2711, -2610, -2510, -2410, -2310, -2209, -2109, -2009, -1908, -1808, -1708,
    -1607, -1507, -1406, -1306, -1206, -1105, -1005, -904, -804, -703, -603, -502, -402, -301, -201, -100,
};

// Entry i = 32767 * 10^(-i/20), truncated toward zero: the amplitude i dB below full scale.
const fixed FixedFft::Loudampl[100] = {
    32767, 29203, 26027, 23197, 20674, 18426, 16422, 14636, 13044, 11626,
    10361, 9234, 8230, 7335, 6537, 5826, 5193, 4628, 4125, 3676,
    3276, 2920, 2602, 2319, 2067, 1842, 1642, 1463, 1304, 1162,
    1036, 923, 823, 733, 653, 582, 519, 462, 412, 367,
    327, 292, 260, 231, 206, 184, 164, 146, 130, 116,
    103, 92, 82, 73, 65, 58, 51, 46, 41, 36,
    32, 29, 26, 23, 20, 18, 16, 14, 13, 11,
    10, 9, 8, 7, 6, 5, 5, 4, 4, 3,
    3, 2, 2, 2, 2, 1, 1, 1, 1, 1,
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

namespace {

// Sums and differences of samples wrap like the machine words they are, never trap.
inline fixed wrapAdd(fixed a, fixed b) { return static_cast<fixed>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
inline fixed wrapSub(fixed a, fixed b) { return static_cast<fixed>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }

// The shift decision looks at the low 32 bits of a value as a signed word; its
// magnitude is taken in 64 bits so that -2^31 counts as large.
inline bool beyondHalfScale(fixed v)
{
    const int64_t w = static_cast<int32_t>(static_cast<uint32_t>(v));
    return w > 16383 || w < -16383;
}

} // namespace

FixedFft::FixedFft()
{
    setN_WAVE(256);
    // Twiddles of the pass with half-span l sit at l ... 2l-1.
    for (int l = 1; l < SINEWAVE_SIZE; l <<= 1) {
        const int step = (SINEWAVE_SIZE / 2) / l;
        for (int mm = 0; mm < l; ++mm) {
            twCos[l + mm] = static_cast<int32_t>(Sinewave[mm * step + SINEWAVE_SIZE / 4]);
            twSin[l + mm] = static_cast<int32_t>(Sinewave[mm * step]);
            twNegSin[l + mm] = -twSin[l + mm];
        }
    }
}

int FixedFft::setN_WAVE(int n_wave)
{
    switch (n_wave) {
    case 512:
        N_WAVE = 512;
        LOG2_N_WAVE = 9;
        break;
    case 1024:
        N_WAVE = 1024;
        LOG2_N_WAVE = 10;
        break;
    case 2048:
        N_WAVE = 2048;
        LOG2_N_WAVE = 11;
        break;
    default:
        N_WAVE = 256;
        LOG2_N_WAVE = 8;
        break;
    }
    sinewaveFactor = SINEWAVE_SIZE / N_WAVE;
    return 0;
}

namespace {

typedef int32_t v4i __attribute__((vector_size(16)));
typedef int32_t v8i __attribute__((vector_size(32)));

inline v4i load4(const int32_t* p)
{
    v4i v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(int32_t* p, v4i v) { std::memcpy(p, &v, sizeof v); }

// Lanes of two vectors picked by constant indices (0-3 from a, 4-7 from b).
#if defined(__clang__)
#define SHUFFLE(a, b, i, j, k, m) __builtin_shufflevector(a, b, i, j, k, m)
#else
#define SHUFFLE(a, b, i, j, k, m) __builtin_shuffle(a, b, v4i{i, j, k, m})
#endif

// On x86 the pass is also built for AVX2 and chosen at run time; the results are the same.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define NARROW_TARGETS __attribute__((target_clones("avx2", "default")))
#else
#define NARROW_TARGETS
#endif

// Narrow passes are exact while every value lies within +-65536: a Q15
// product then stays below 2^31 and every sum within 32 bits.
constexpr int32_t kNarrowLimit = 65535;

// |v| of values far from the ends of the 32-bit range, without a branch.
inline v4i magnitude(v4i v)
{
    const v4i sign = v >> 31;
    return (v ^ sign) - sign;
}

// Four butterflies: a' = a/2^shift + w*b, b' = a/2^shift - w*b, each Q15 product floored.
inline void butterflies(v4i wr, v4i wi, v4i& ar, v4i& ai, v4i& br, v4i& bi, int shift, v4i& bits)
{
    const v4i tr = ((wr * br) >> 15) - ((wi * bi) >> 15);
    const v4i ti = ((wr * bi) >> 15) + ((wi * br) >> 15);
    const v4i qr = ar >> shift, qi = ai >> shift;
    br = qr - tr;
    bi = qi - ti;
    ar = qr + tr;
    ai = qi + ti;
    bits |= magnitude(ar) | magnitude(ai) | magnitude(br) | magnitude(bi);
}

// Passes of half-span 1 and 2: partners lie within each group of four, so the
// upper halves of two groups are gathered into one vector and the lower
// halves into another, then put back.
template <int L>
inline void smallSpanPass(int32_t* xr, int32_t* xi, int n, const int32_t* cw, const int32_t* sw, int shift, v4i& bits)
{
    const v4i wr = (L == 1 ? v4i{cw[0], cw[0], cw[0], cw[0]} : v4i{cw[0], cw[1], cw[0], cw[1]}) >> shift;
    const v4i wi = (L == 1 ? v4i{sw[0], sw[0], sw[0], sw[0]} : v4i{sw[0], sw[1], sw[0], sw[1]}) >> shift;
    for (int i = 0; i < n; i += 8) {
        const v4i r0 = load4(xr + i), r1 = load4(xr + i + 4), i0 = load4(xi + i), i1 = load4(xi + i + 4);
        v4i ar, br, ai, bi;
        if (L == 1) {
            ar = SHUFFLE(r0, r1, 0, 2, 4, 6);
            br = SHUFFLE(r0, r1, 1, 3, 5, 7);
            ai = SHUFFLE(i0, i1, 0, 2, 4, 6);
            bi = SHUFFLE(i0, i1, 1, 3, 5, 7);
        } else {
            ar = SHUFFLE(r0, r1, 0, 1, 4, 5);
            br = SHUFFLE(r0, r1, 2, 3, 6, 7);
            ai = SHUFFLE(i0, i1, 0, 1, 4, 5);
            bi = SHUFFLE(i0, i1, 2, 3, 6, 7);
        }
        butterflies(wr, wi, ar, ai, br, bi, shift, bits);
        if (L == 1) {
            store4(xr + i, SHUFFLE(ar, br, 0, 4, 1, 5));
            store4(xr + i + 4, SHUFFLE(ar, br, 2, 6, 3, 7));
            store4(xi + i, SHUFFLE(ai, bi, 0, 4, 1, 5));
            store4(xi + i + 4, SHUFFLE(ai, bi, 2, 6, 3, 7));
        } else {
            store4(xr + i, SHUFFLE(ar, br, 0, 1, 4, 5));
            store4(xr + i + 4, SHUFFLE(ar, br, 2, 3, 6, 7));
            store4(xi + i, SHUFFLE(ai, bi, 0, 1, 4, 5));
            store4(xi + i + 4, SHUFFLE(ai, bi, 2, 3, 6, 7));
        }
    }
}

} // namespace

// One radix-2 pass over 32-bit values, four butterflies at a time. Returns
// the OR of the magnitudes it wrote: a bit at 2^14 or above means some value
// exceeds 16383, at 2^16 or above that some value left the narrow range.
NARROW_TARGETS uint32_t FixedFft::narrowPass(int n, int l, int inverse, int shift) const
{
    int32_t* const xr = wr32;
    int32_t* const xi = wi32;
    // Twiddles of this pass: wr = cos(pi*m/l), wi = -+sin(pi*m/l), each halved when the pass shifts.
    const int32_t* const cw = twCos + l;
    const int32_t* const sw = (inverse ? twSin : twNegSin) + l;
    v4i bits = {0, 0, 0, 0};
    if (l == 1) {
        smallSpanPass<1>(xr, xi, n, cw, sw, shift, bits);
    } else if (l == 2) {
        smallSpanPass<2>(xr, xi, n, cw, sw, shift, bits);
    } else if (l == 4) {
        const v4i wr = load4(cw) >> shift, wi = load4(sw) >> shift;
        for (int a = 0; a < n; a += 8) {
            v4i ar = load4(xr + a), ai = load4(xi + a), br = load4(xr + a + 4), bi = load4(xi + a + 4);
            butterflies(wr, wi, ar, ai, br, bi, shift, bits);
            store4(xr + a, ar);
            store4(xi + a, ai);
            store4(xr + a + 4, br);
            store4(xi + a + 4, bi);
        }
    } else {
        // Eight butterflies at a time; values move by memcpy so that no
        // function passes a wide vector (its ABI depends on the build target).
        v8i wide = {0, 0, 0, 0, 0, 0, 0, 0};
        for (int i0 = 0; i0 < n; i0 += 2 * l) {
            for (int mm = 0; mm < l; mm += 8) {
                const int a = i0 + mm, b = a + l;
                v8i wr, wi, ar, ai, br, bi;
                std::memcpy(&wr, cw + mm, sizeof wr);
                std::memcpy(&wi, sw + mm, sizeof wi);
                std::memcpy(&ar, xr + a, sizeof ar);
                std::memcpy(&ai, xi + a, sizeof ai);
                std::memcpy(&br, xr + b, sizeof br);
                std::memcpy(&bi, xi + b, sizeof bi);
                wr >>= shift;
                wi >>= shift;
                const v8i tr = ((wr * br) >> 15) - ((wi * bi) >> 15);
                const v8i ti = ((wr * bi) >> 15) + ((wi * br) >> 15);
                const v8i qr = ar >> shift, qi = ai >> shift;
                const v8i o[4] = {qr - tr, qi - ti, qr + tr, qi + ti};
                std::memcpy(xr + b, &o[0], sizeof o[0]);
                std::memcpy(xi + b, &o[1], sizeof o[1]);
                std::memcpy(xr + a, &o[2], sizeof o[2]);
                std::memcpy(xi + a, &o[3], sizeof o[3]);
                for (const v8i& v : o) {
                    const v8i sign = v >> 31;
                    wide |= (v ^ sign) - sign;
                }
            }
        }
        for (int t = 0; t < 4; ++t)
            bits[t] |= wide[t] | wide[t + 4];
    }
    return static_cast<uint32_t>(bits[0] | bits[1] | bits[2] | bits[3]);
}

// Copies fr/fi into the 32-bit scratch in bit-reversed order when every value
// lies within -65535 ... 65536; false (scratch unused) otherwise.
NARROW_TARGETS bool FixedFft::narrowIn(const fixed fr[], const fixed fi[], int n) const
{
    typedef uint64_t v4u __attribute__((vector_size(32)));
    v4u outside = {0, 0, 0, 0};
    for (int i = 0; i < n; i += 4) {
        v4u r, q;
        std::memcpy(&r, fr + i, sizeof r);
        std::memcpy(&q, fi + i, sizeof q);
        outside |= (r + kNarrowLimit) | (q + kNarrowLimit);
    }
    if (((outside[0] | outside[1] | outside[2] | outside[3]) >> 17) != 0)
        return false;
    for (int i = 0; i < n; ++i) {
        wr32[i] = static_cast<int32_t>(fr[rev[i]]);
        wi32[i] = static_cast<int32_t>(fi[rev[i]]);
    }
    return true;
}

// The magnitudes of the scratch ORed together: see narrowPass.
NARROW_TARGETS uint32_t FixedFft::magnitudeBits(int n) const
{
    v8i bits = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < n; i += 8) {
        v8i r, q;
        std::memcpy(&r, wr32 + i, sizeof r);
        std::memcpy(&q, wi32 + i, sizeof q);
        const v8i sr = r >> 31, sq = q >> 31;
        bits |= ((r ^ sr) - sr) | ((q ^ sq) - sq);
    }
    return static_cast<uint32_t>(bits[0] | bits[1] | bits[2] | bits[3] | bits[4] | bits[5] | bits[6] | bits[7]);
}

// Widens the scratch back into the caller's arrays.
NARROW_TARGETS void FixedFft::narrowOut(fixed fr[], fixed fi[], int n) const
{
    typedef int64_t v4l __attribute__((vector_size(32)));
    for (int i = 0; i < n; i += 4) {
        v4i r, q;
        std::memcpy(&r, wr32 + i, sizeof r);
        std::memcpy(&q, wi32 + i, sizeof q);
        const v4l wr = __builtin_convertvector(r, v4l), wi = __builtin_convertvector(q, v4l);
        std::memcpy(fr + i, &wr, sizeof wr);
        std::memcpy(fi + i, &wi, sizeof wi);
    }
}

int FixedFft::fix_fft(fixed fr[], fixed fi[], long m, int inverse) const
{
    if (m < 0 || m > LOG2_N_WAVE)
        return -1;
    const int n = 1 << m;
    if (n == 1)
        return 0;
    if (n != revSize) {
        // The bit-reversal order: the partner mr of each m' as the reordering loop finds it.
        int mr = 0;
        rev[0] = 0;
        for (int mm = 1; mm < n; ++mm) {
            int l = n;
            do {
                l >>= 1;
            } while (mr + l > n - 1);
            mr = (mr & (l - 1)) + l;
            rev[mm] = static_cast<int16_t>(mr);
        }
        revSize = n;
    }

    int l = 1;
    int k = LOG2_N_WAVE - 1;
    int scale = 0;

    // Sweeps of 16-bit samples keep every value within +-65535, where the
    // passes give the same results on 32-bit copies, several values at a time.
    // The copies are taken in bit-reversed order; a value outside that range
    // leaves the caller's arrays untouched for the 64-bit passes below.
    bool narrow = n >= 8 && narrowIn(fr, fi, n);
    if (narrow) {
        uint32_t bits = magnitudeBits(n);
        while (l < n && bits <= kNarrowLimit) {
            const int shift = inverse ? (bits > 16383 ? 1 : 0) : 1;
            scale += inverse ? shift : 0;
            bits = narrowPass(n, l, inverse, shift);
            --k;
            l <<= 1;
        }
        narrowOut(fr, fi, n);
    }
    if (!narrow) {
        for (int mm = 1; mm < n; ++mm) {
            const int mr = rev[mm];
            if (mr > mm) {
                std::swap(fr[mm], fr[mr]);
                std::swap(fi[mm], fi[mr]);
            }
        }
    }

    const int quarter = N_WAVE / 4;
    while (l < n) {
        bool shift = true;
        if (inverse) {
            // Halve this pass only when its input could overflow Q15 headroom.
            shift = false;
            for (int i = 0; i < n; ++i) {
                if (beyondHalfScale(fr[i]) || beyondHalfScale(fi[i])) {
                    shift = true;
                    break;
                }
            }
            if (shift)
                ++scale;
        }
        const int istep = l << 1;
        for (int mm = 0; mm < l; ++mm) {
            const int j = mm << k;
            fixed wr = SinewaveFn(j + quarter);
            fixed wi = -static_cast<fixed>(SinewaveFn(j));
            if (inverse)
                wi = -wi;
            if (shift) {
                wr >>= 1;
                wi >>= 1;
            }
            for (int i = mm; i < n; i += istep) {
                const int jj = i + l;
                const fixed tr = wrapSub(fix_mpy(wr, fr[jj]), fix_mpy(wi, fi[jj]));
                const fixed ti = wrapAdd(fix_mpy(wr, fi[jj]), fix_mpy(wi, fr[jj]));
                fixed qr = fr[i];
                fixed qi = fi[i];
                if (shift) {
                    qr >>= 1;
                    qi >>= 1;
                }
                fr[jj] = wrapSub(qr, tr);
                fi[jj] = wrapSub(qi, ti);
                fr[i] = wrapAdd(qr, tr);
                fi[i] = wrapAdd(qi, ti);
            }
        }
        --k;
        l = istep;
    }
    return scale;
}

void FixedFft::window(fixed fr[], int n) const
{
    if (n <= 0) // nothing to weight, and N_WAVE / n must not divide by zero
        return;
    const int j = N_WAVE / n;
    int k = N_WAVE / 4;
    const int half = n / 2;
    for (int i = 0; i < half; ++i) {
        fr[i] = fix_mpy(fr[i], 16384 - (SinewaveFn(k) >> 1));
        k += j;
    }
    k -= j;
    for (int i = half; i < 2 * half; ++i) {
        fr[i] = fix_mpy(fr[i], 16384 - (SinewaveFn(k) >> 1));
        k -= j;
    }
}

void FixedFft::remove_dc(fixed fr[]) const
{
    uint32_t sum = 0;
    for (int i = 0; i < N_WAVE; ++i)
        sum += static_cast<uint32_t>(fr[i]);
    const fixed mean = static_cast<int32_t>(sum) / N_WAVE;
    for (int i = 0; i < N_WAVE; ++i)
        fr[i] = wrapSub(fr[i], mean);
}

void FixedFft::fix_loud(fixed loud[], fixed fr[], fixed fi[], int n, int scale_shift) const
{
    const int max = scale_shift > 0 ? 10 : 0;
    for (int i = 0; i < n; ++i) {
        fixed level = db_from_ampl(fr[i], fi[i]) + 6 * (static_cast<fixed>(scale_shift) + 1);
        loud[i] = level > max ? max : level;
    }
}

int FixedFft::db_from_ampl(fixed re, fixed im) const
{
    static int32_t loud2[100];
    if (loud2[0] == 0) {
        loud2[0] = static_cast<int32_t>(Loudampl[0] * Loudampl[0]);
        for (int i = 1; i < N_LOUD; ++i) {
            const int32_t v = static_cast<int32_t>(Loudampl[i] * Loudampl[i]);
            loud2[i] = v;
            loud2[i - 1] = (loud2[i - 1] + v) / 2;
        }
    }
    const uint32_t r = static_cast<uint32_t>(re);
    const uint32_t m = static_cast<uint32_t>(im);
    const int32_t v = static_cast<int32_t>(r * r + m * m);
    for (int i = 0; i < N_LOUD; ++i)
        if (loud2[i] <= v)
            return -i;
    return -N_LOUD;
}

int FixedFft::iscale(int value, int numer, int denom)
{
    if (denom == 0)
        return 0;
    const int32_t product = static_cast<int32_t>(static_cast<uint32_t>(value) * static_cast<uint32_t>(numer));
    if (denom == -1) // the one quotient that does not fit wraps as well
        return static_cast<int32_t>(0u - static_cast<uint32_t>(product));
    return product / denom;
}

fixed FixedFft::fix_dot(fixed* hpa, fixed* pb, int n)
{
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<uint32_t>(fix_mpy(hpa[i], pb[i]));
    const int32_t s = static_cast<int32_t>(sum);
    if (s > 32767)
        return 32767;
    if (s < -32767)
        return -32767;
    return s;
}

namespace {
// Float to int the way a C cast truncates, but without undefined results beyond int's range.
int truncToInt(float v)
{
    if (!(v < 2147483648.0f))
        return std::numeric_limits<int>::max();
    if (!(v >= -2147483648.0f))
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}
} // namespace

int FixedFft::fftPower(fixed* fft_real, fixed* fft_imag, int size)
{
    if (size <= 0)
        return 0;
    std::complex<float> sum(0.0f, 0.0f);
    for (int i = 0; i < size; ++i)
        sum += std::complex<float>(static_cast<float>(fft_real[i]), static_cast<float>(fft_imag[i]));
    return truncToInt(std::abs(sum) / static_cast<float>(size));
}

int FixedFft::fftEnergy(fixed* fft_real, fixed* fft_imag, int size)
{
    if (size <= 0)
        return 0;
    float sum = 0.0f;
    for (int i = 0; i < size; ++i) {
        const float re = static_cast<float>(fft_real[i]);
        const float im = static_cast<float>(fft_imag[i]);
        sum += re * re + im * im;
    }
    return truncToInt(std::fabs(sum));
}
