// What the natives share on the Java side: the exception they throw and the
// reading of a SerialConfig.
#pragma once

#include <jni.h>

#include <cstddef>

namespace qvpserial {

// Throws java/io/IOException with `text`; false when the class cannot be found
// (its NoClassDefFoundError is pending then).
bool throwIOException(JNIEnv* env, const char* text);
// False (with the error pending) when java/io/IOException cannot be found.
bool haveIOException(JNIEnv* env);

// Reads a Quorvel.SerialConfig through its methods. After a missing method, a
// null object or an exception in a getter, ok() is false, the exception stays
// pending for the caller and no further Java call is made.
class ConfigReader {
public:
    ConfigReader(JNIEnv* env, jobject cfg);
    ~ConfigReader();
    ConfigReader(const ConfigReader&) = delete;
    ConfigReader& operator=(const ConfigReader&) = delete;

    bool ok() const { return ok_; }
    jint getInt(const char* method);
    // Copies at most `size` bytes of a byte-array getter's result into buf and
    // returns the array's whole length (0 for null).
    std::size_t getBytes(const char* method, char* buf, std::size_t size);
    void setPortNum(jint portNum);

private:
    jmethodID method(const char* name, const char* signature);

    JNIEnv* env;
    jobject cfg;
    jclass cls = nullptr;
    bool ok_ = false;
};

} // namespace qvpserial
