// Text and number conversions, radar geometry and process figures shared by the
// programs; the services' text helpers follow the util namespace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace util {

// Fatal exit: perror(msg), then exit status 1.
[[noreturn]] void error(const char* msg);

// Centimetres per FFT bin for a sweep of n samples; 0 when n < 1.
float getFourierDistance(int n);

// Factor on distances measured inside a still pipe; 1 for a free-space radar,
// NaN for a pipe below the cut-off (diameter in centimetres).
float getPipeCorrection(int isFreeSpaceRadar, float pipeDiameter);

// k when x = 2^k with k >= 1, else 0.
int isPowerOfTwo(int x);

// Big-endian IEEE single from four bytes, n1 first.
float bytes2float(int n1, int n2, int n3, int n4);

// 2 * psize upper-case hex digits and a NUL; nothing at all for psize < 1.
int binToHex(const char* p, const int psize, char* buffer);
// One byte per pair of hex digits; *size = bytes written.
int hexToBin(const char* p, char* buffer, int* size);
char xtod(char c);

// Fixed, 5 decimals; "-inf" becomes "0".
void floatToString(float argument, std::string* T);
void ToString(int argument, std::string* T);
void ToString(long argument, std::string* T);
void ToString(long long argument, std::string* T);
void ToString(unsigned long long argument, std::string* T);
// printf "%f".
void doubleToString(double ref, std::string* S);

// Virtual size and resident set of a process in kilobytes; both 0 when unreadable.
void process_mem_usage(int pppid, double& vm_usage, double& resident_set);

// Pieces of str between delimiters; an empty delimiter or text gives {str}.
std::vector<std::string> explode(const std::string& delimiter, const std::string& str);

// Floor of the square root, on 32-bit values.
std::uint32_t isqrt(std::uint32_t x);

} // namespace util

// Services' text helpers.

// True when the text is "nan" in any mix of cases, and nothing else.
bool isExactNaN(const std::string& text);

// Pieces of *text between non-overlapping delimiters found from the left; an
// empty delimiter gives no piece, a trailing delimiter a last empty piece.
std::vector<std::string> explode(const std::string& delimiter, std::string* text);

// ASCII-armored AES256 symmetric encryption of message plus a line feed, by gpg.
// Throws std::runtime_error("popen() failed!") when gpg cannot be started. The
// passphrase reaches gpg through a pipe, never a command line or a shell.
std::string encrypt_message(const std::string& message, const std::string& passphrase);
// gpg's decryption of an armored message, every line feed removed.
std::string decrypt_message(const std::string& message, const std::string& passphrase);
