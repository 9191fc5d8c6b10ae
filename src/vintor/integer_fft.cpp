// Fixed-point FFT kernel, Hann window and helpers.
#include "integer_fft.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <complex>
#include <limits>

#if defined(__arm__)
#include <sys/auxv.h>
#endif

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

FixedFft::FixedFft(Lanes lanes) : kernels_(&kernelsFor(lanes))
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
typedef int64_t v4l __attribute__((vector_size(32)));
typedef uint64_t v4u __attribute__((vector_size(32)));
typedef double v4d __attribute__((vector_size(32)));
typedef float v4f __attribute__((vector_size(16)));
typedef int16_t v8s __attribute__((vector_size(16)));

// The kernels below are written once with the compiler's vector extensions
// and built twice: for the target's baseline and for its widest vector unit
// (AVX2 on x86-64, NEON on 32-bit ARM, whose baseline has none), chosen at
// run time. Their helpers are inlined into each build, so both give the same
// integer results.
#if defined(__GNUC__) && defined(__x86_64__)
#define WIDE_TARGET "avx2"
#elif defined(__GNUC__) && !defined(__clang__) && defined(__arm__) && !defined(__ARM_NEON)
#define WIDE_TARGET "fpu=neon"
#endif
#define LANES inline __attribute__((always_inline))

LANES v4i load4(const int32_t* p)
{
    v4i v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

LANES void store4(int32_t* p, v4i v) { std::memcpy(p, &v, sizeof v); }

// The two halves of an eight-lane vector.
LANES void halves(const v8i& v, v4i& lo, v4i& hi)
{
    std::memcpy(&lo, &v, sizeof lo);
    std::memcpy(&hi, reinterpret_cast<const char*>(&v) + sizeof lo, sizeof hi);
}

// Lanes of two vectors picked by constant indices (0-3 from a, 4-7 from b).
#if defined(__clang__)
#define SHUFFLE(a, b, i, j, k, m) __builtin_shufflevector(a, b, i, j, k, m)
#else
#define SHUFFLE(a, b, i, j, k, m) __builtin_shuffle(a, b, v4i{i, j, k, m})
#endif

// Narrow passes are exact while every value lies within +-65536: a Q15
// product then stays below 2^31 and every sum within 32 bits.
constexpr int32_t kNarrowLimit = 65535;

// The largest and the smallest value seen in each lane.
template <class V>
struct Extremes {
    V hi = {};
    V lo = {};
    LANES void operator+=(const V& v)
    {
        hi = v > hi ? v : hi;
        lo = v < lo ? v : lo;
    }
};

// The largest magnitude of the values seen (none beyond +-2^31 - 1).
LANES uint32_t largest(const Extremes<v4i>& e)
{
    const v4i m = e.hi > -e.lo ? e.hi : -e.lo;
    return static_cast<uint32_t>(std::max(std::max(m[0], m[1]), std::max(m[2], m[3])));
}

LANES uint32_t largest(const Extremes<v8i>& e)
{
    Extremes<v4i> h;
    halves(e.hi, h.hi, h.lo);
    h.hi = h.hi > h.lo ? h.hi : h.lo;
    v4i a, b;
    halves(e.lo, a, b);
    h.lo = a < b ? a : b;
    return largest(h);
}

// Four butterflies: a' = a/2^shift + w*b, b' = a/2^shift - w*b, each Q15 product floored.
LANES void butterflies(v4i wr, v4i wi, v4i& ar, v4i& ai, v4i& br, v4i& bi, int shift, Extremes<v4i>& seen)
{
    const v4i tr = ((wr * br) >> 15) - ((wi * bi) >> 15);
    const v4i ti = ((wr * bi) >> 15) + ((wi * br) >> 15);
    const v4i qr = ar >> shift, qi = ai >> shift;
    br = qr - tr;
    bi = qi - ti;
    ar = qr + tr;
    ai = qi + ti;
    seen += ar;
    seen += ai;
    seen += br;
    seen += bi;
}

// Passes of half-span 1 and 2: partners lie within each group of four, so the
// upper halves of two groups are gathered into one vector and the lower
// halves into another, then put back.
template <int L>
LANES void smallSpanPass(int32_t* xr, int32_t* xi, int n, const int32_t* cw, const int32_t* sw, int shift,
    Extremes<v4i>& seen)
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
        butterflies(wr, wi, ar, ai, br, bi, shift, seen);
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

// One radix-2 pass over 32-bit values with half-span l and the twiddles cw,
// sw of that pass. Returns the largest magnitude it wrote: above 16383 the
// next pass must halve, above 65535 the values left the narrow range.
LANES uint32_t passBody(int32_t* xr, int32_t* xi, int n, int l, const int32_t* cw, const int32_t* sw, int shift)
{
    Extremes<v4i> seen;
    if (l == 1) {
        smallSpanPass<1>(xr, xi, n, cw, sw, shift, seen);
    } else if (l == 2) {
        smallSpanPass<2>(xr, xi, n, cw, sw, shift, seen);
    } else if (l == 4) {
        const v4i wr = load4(cw) >> shift, wi = load4(sw) >> shift;
        for (int a = 0; a < n; a += 8) {
            v4i ar = load4(xr + a), ai = load4(xi + a), br = load4(xr + a + 4), bi = load4(xi + a + 4);
            butterflies(wr, wi, ar, ai, br, bi, shift, seen);
            store4(xr + a, ar);
            store4(xi + a, ai);
            store4(xr + a + 4, br);
            store4(xi + a + 4, bi);
        }
    } else {
        // Eight butterflies at a time; values move by memcpy so that no
        // function passes a wide vector (its ABI depends on the build target).
        Extremes<v8i> wide;
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
                const v8i br2 = qr - tr, bi2 = qi - ti, ar2 = qr + tr, ai2 = qi + ti;
                std::memcpy(xr + b, &br2, sizeof br2);
                std::memcpy(xi + b, &bi2, sizeof bi2);
                std::memcpy(xr + a, &ar2, sizeof ar2);
                std::memcpy(xi + a, &ai2, sizeof ai2);
                wide += br2;
                wide += bi2;
                wide += ar2;
                wide += ai2;
            }
        }
        return largest(wide);
    }
    return largest(seen);
}

// Copies fr/fi into xr/xi in bit-reversed order when every value lies within
// -65535 ... 65536; false (xr/xi unused) otherwise.
LANES bool inBody(const fixed* fr, const fixed* fi, const int16_t* rev, int n, int32_t* xr, int32_t* xi)
{
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
        xr[i] = static_cast<int32_t>(fr[rev[i]]);
        xi[i] = static_cast<int32_t>(fi[rev[i]]);
    }
    return true;
}

// The largest magnitude in xr/xi: see passBody.
LANES uint32_t magnitudeBody(const int32_t* xr, const int32_t* xi, int n)
{
    Extremes<v8i> seen;
    for (int i = 0; i < n; i += 8) {
        v8i r, q;
        std::memcpy(&r, xr + i, sizeof r);
        std::memcpy(&q, xi + i, sizeof q);
        seen += r;
        seen += q;
    }
    return largest(seen);
}

// Widens xr/xi into fr/fi.
LANES void outBody(const int32_t* xr, const int32_t* xi, int n, fixed* fr, fixed* fi)
{
    for (int i = 0; i < n; i += 4) {
        const v4l wr = __builtin_convertvector(load4(xr + i), v4l), wi = __builtin_convertvector(load4(xi + i), v4l);
        std::memcpy(fr + i, &wr, sizeof wr);
        std::memcpy(fi + i, &wi, sizeof wi);
    }
}

// n 16-bit samples in host order, each weighted by fix_mpy with its Q15
// weight when there are weights (|x * w| <= 2^30: exact in 32 bits), then
// the first pass, into xr in bit-reversed order, xi cleared. Adds the squares
// of the samples to *sumSquares and gives the first pass's shift; returns the
// largest magnitude the pass wrote.
//
// The first pass pairs, in bit-reversed order, neighbours that are n/2 apart
// in the samples' own order, all with the twiddle (cos 0, 0): on real samples
// it runs there on whole vectors, and the imaginary parts stay 0.
LANES uint32_t samplesBody(const unsigned char* samples, const int32_t* weights, const int16_t* rev, int n,
    int inverse, int32_t cos0, int32_t* xr, int32_t* xi, int64_t* sumSquares, int* shift)
{
    v4l sums = {0, 0, 0, 0};
    Extremes<v8i> seen;
    // The weighted samples in their own order go to xi first.
    for (int i = 0; i < n; i += 8) {
        v8s s;
        std::memcpy(&s, samples + 2 * i, sizeof s);
        v8i x = __builtin_convertvector(s, v8i);
        v4i lo, hi;
        halves(x * x, lo, hi);
        sums += __builtin_convertvector(lo, v4l) + __builtin_convertvector(hi, v4l);
        if (weights != nullptr) {
            v8i w;
            std::memcpy(&w, weights + i, sizeof w);
            x = (x * w) >> 15;
        }
        seen += x;
        std::memcpy(xi + i, &x, sizeof x);
    }
    *sumSquares += sums[0] + sums[1] + sums[2] + sums[3];
    *shift = inverse ? (largest(seen) > 16383 ? 1 : 0) : 1;
    const int s = *shift;
    const v8i w = v8i{cos0, cos0, cos0, cos0, cos0, cos0, cos0, cos0} >> s;
    Extremes<v8i> written;
    const int half = n / 2;
    const int whole = half & ~7;
    for (int j = 0; j < whole; j += 8) {
        v8i a, b;
        std::memcpy(&a, xi + j, sizeof a);
        std::memcpy(&b, xi + j + half, sizeof b);
        const v8i t = (w * b) >> 15, q = a >> s;
        a = q + t;
        b = q - t;
        written += a;
        written += b;
        std::memcpy(xi + j, &a, sizeof a);
        std::memcpy(xi + j + half, &b, sizeof b);
    }
    uint32_t top = largest(written);
    for (int j = whole; j < half; ++j) {  // eight samples
        const int32_t t = (w[0] * xi[j + half]) >> 15, q = xi[j] >> s;
        xi[j] = q + t;
        xi[j + half] = q - t;
        top = std::max<uint32_t>(top, static_cast<uint32_t>(std::max(std::abs(xi[j]), std::abs(xi[j + half]))));
    }
    for (int i = 0; i < n; ++i)
        xr[i] = xi[rev[i]];
    std::memset(xi, 0, static_cast<std::size_t>(n) * sizeof *xi);
    return top;
}

// Normalised power of bins 0 ... bins-1, (xr^2 + xi^2) * factor / norm, as
// the float of the 64-bit power divided in float: worked out in double, where
// these sums are exact (32-bit values). False when the 64-bit power of some
// bin would not hold it (it saturates there).
LANES bool powerBody(const int32_t* xr, const int32_t* xi, int bins, double factor, float norm, float* row)
{
    v4d largest = {0, 0, 0, 0};
    const int whole = bins & ~3;
    for (int i = 0; i < whole; i += 4) {
        const v4d dr = __builtin_convertvector(load4(xr + i), v4d), di = __builtin_convertvector(load4(xi + i), v4d);
        const v4d sum = dr * dr + di * di;
        largest = sum > largest ? sum : largest;
        const v4f p = __builtin_convertvector(sum * factor, v4f) / norm;
        std::memcpy(row + i, &p, sizeof p);
    }
    double top = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    for (int i = whole; i < bins; ++i) {
        const double dr = xr[i], di = xi[i];
        const double sum = dr * dr + di * di;
        top = std::max(top, sum);
        row[i] = static_cast<float>(sum * factor) / norm;
    }
    return top * factor < 4611686018427387904.0;
}

} // namespace

struct FixedFft::Kernels {
    uint32_t (*pass)(int32_t*, int32_t*, int, int, const int32_t*, const int32_t*, int);
    bool (*in)(const fixed*, const fixed*, const int16_t*, int, int32_t*, int32_t*);
    uint32_t (*magnitude)(const int32_t*, const int32_t*, int);
    void (*out)(const int32_t*, const int32_t*, int, fixed*, fixed*);
    uint32_t (*samples)(const unsigned char*, const int32_t*, const int16_t*, int, int, int32_t, int32_t*, int32_t*,
        int64_t*, int*);
    bool (*power)(const int32_t*, const int32_t*, int, double, float, float*);
};

// One build of the kernels with the given function attributes.
#define KERNELS(ATTR, NAME)                                                                                          \
    namespace {                                                                                                      \
    ATTR uint32_t NAME##Pass(int32_t* xr, int32_t* xi, int n, int l, const int32_t* cw, const int32_t* sw, int s)    \
    {                                                                                                                \
        return passBody(xr, xi, n, l, cw, sw, s);                                                                    \
    }                                                                                                                \
    ATTR bool NAME##In(const fixed* fr, const fixed* fi, const int16_t* rev, int n, int32_t* xr, int32_t* xi)        \
    {                                                                                                                \
        return inBody(fr, fi, rev, n, xr, xi);                                                                       \
    }                                                                                                                \
    ATTR uint32_t NAME##Magnitude(const int32_t* xr, const int32_t* xi, int n) { return magnitudeBody(xr, xi, n); } \
    ATTR void NAME##Out(const int32_t* xr, const int32_t* xi, int n, fixed* fr, fixed* fi)                           \
    {                                                                                                                \
        outBody(xr, xi, n, fr, fi);                                                                                  \
    }                                                                                                                \
    ATTR uint32_t NAME##Samples(const unsigned char* s, const int32_t* w, const int16_t* rev, int n, int inverse,      \
        int32_t cos0, int32_t* xr, int32_t* xi, int64_t* sum, int* shift)                                            \
    {                                                                                                                \
        return samplesBody(s, w, rev, n, inverse, cos0, xr, xi, sum, shift);                                         \
    }                                                                                                                \
    ATTR bool NAME##Power(const int32_t* xr, const int32_t* xi, int bins, double factor, float norm, float* row)     \
    {                                                                                                                \
        return powerBody(xr, xi, bins, factor, norm, row);                                                           \
    }                                                                                                                \
    const FixedFft::Kernels NAME##Kernels = {                                                                        \
        NAME##Pass, NAME##In, NAME##Magnitude, NAME##Out, NAME##Samples, NAME##Power};                               \
    }

KERNELS(, plain)
#ifdef WIDE_TARGET
KERNELS(__attribute__((target(WIDE_TARGET))), wide)
#endif

namespace {

bool wideLanesRun()
{
#if defined(WIDE_TARGET) && defined(__x86_64__)
    return __builtin_cpu_supports("avx2");
#elif defined(WIDE_TARGET) && defined(__arm__)
    return (getauxval(AT_HWCAP) & HWCAP_ARM_NEON) != 0;
#else
    return false;
#endif
}

} // namespace

bool FixedFft::widestLanes()
{
    static const bool wide = wideLanesRun();
    return wide;
}

const FixedFft::Kernels& FixedFft::kernelsFor(Lanes lanes)
{
#ifdef WIDE_TARGET
    if (lanes == Lanes::Widest && widestLanes())
        return wideKernels;
#endif
    (void)lanes;
    return plainKernels;
}

void FixedFft::reversal(int n) const
{
    if (n == revSize)
        return;
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

bool FixedFft::narrowPasses(int n, int inverse, uint32_t top, Passes& p) const
{
    while (p.l < n && top <= kNarrowLimit) {
        const int shift = inverse ? (top > 16383 ? 1 : 0) : 1;
        p.scale += inverse ? shift : 0;
        // Twiddles of this pass: wr = cos(pi*m/l), wi = -+sin(pi*m/l).
        top = kernels_->pass(wr32, wi32, n, p.l, twCos + p.l, (inverse ? twSin : twNegSin) + p.l, shift);
        --p.k;
        p.l <<= 1;
    }
    return p.l >= n;
}

void FixedFft::widePasses(fixed fr[], fixed fi[], int n, int inverse, Passes& p) const
{
    const int quarter = N_WAVE / 4;
    while (p.l < n) {
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
                ++p.scale;
        }
        const int l = p.l;
        const int istep = l << 1;
        for (int mm = 0; mm < l; ++mm) {
            const int j = mm << p.k;
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
        --p.k;
        p.l = istep;
    }
}

int FixedFft::fix_fft(fixed fr[], fixed fi[], long m, int inverse) const
{
    if (m < 0 || m > LOG2_N_WAVE)
        return -1;
    const int n = 1 << m;
    if (n == 1)
        return 0;
    reversal(n);
    Passes p{1, LOG2_N_WAVE - 1, 0};

    // Sweeps of 16-bit samples keep every value within +-65535, where the
    // passes give the same results on 32-bit copies, several values at a time.
    // The copies are taken in bit-reversed order; a value outside that range
    // leaves the caller's arrays untouched for the 64-bit passes below.
    if (n >= 8 && kernels_->in(fr, fi, rev, n, wr32, wi32)) {
        narrowPasses(n, inverse, kernels_->magnitude(wr32, wi32, n), p);
        kernels_->out(wr32, wi32, n, fr, fi);
    } else {
        for (int mm = 1; mm < n; ++mm) {
            const int mr = rev[mm];
            if (mr > mm) {
                std::swap(fr[mm], fr[mr]);
                std::swap(fi[mm], fi[mr]);
            }
        }
    }
    widePasses(fr, fi, n, inverse, p);
    return p.scale;
}

int FixedFft::transform16(const void* samples, int n, bool windowed, int inverse, fixed fr[], fixed fi[],
    int64_t* sumSquares, bool* inLanes) const
{
    reversal(n);
    const int32_t* weights = nullptr;
    if (windowed) {
        if (weightsKey != n * SINEWAVE_SIZE + N_WAVE) {
            // The weights window() gives sample i, as 32-bit words.
            const int j = N_WAVE / n;
            int k = N_WAVE / 4;
            const int half = n / 2;
            for (int i = 0; i < half; ++i, k += j)
                hann32[i] = 16384 - (SinewaveFn(k) >> 1);
            k -= j;
            for (int i = half; i < n; ++i, k -= j)
                hann32[i] = 16384 - (SinewaveFn(k) >> 1);
            weightsKey = n * SINEWAVE_SIZE + N_WAVE;
        }
        weights = hann32;
    }
    *sumSquares = 0;
    int shift = 0;
    const uint32_t top = kernels_->samples(
        static_cast<const unsigned char*>(samples), weights, rev, n, inverse, twCos[1], wr32, wi32, sumSquares, &shift);
    Passes p{2, LOG2_N_WAVE - 2, inverse ? shift : 0};
    *inLanes = narrowPasses(n, inverse, top, p);
    if (!*inLanes) {
        kernels_->out(wr32, wi32, n, fr, fi);
        widePasses(fr, fi, n, inverse, p);
    }
    return p.scale;
}

bool FixedFft::powerRow(int bins, int scale, float norm, float* row) const
{
    return kernels_->power(wr32, wi32, bins, std::ldexp(1.0, scale > 0 ? 2 * scale : 0), norm, row);
}

void FixedFft::lanesOut(fixed fr[], fixed fi[], int n) const { kernels_->out(wr32, wi32, n, fr, fi); }

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
