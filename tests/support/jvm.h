// Tests of JNI natives in a real JVM inside the test process. The JVM starts
// once per process (a process can hold only one) with -Xcheck:jni and the class
// path and native library path that add_jvm_test gives the test program.
#pragma once

#include <jni.h>

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

// The JNI environment of the calling thread, starting the JVM on first use.
JNIEnv* jvmEnv();

// A function of a native library that the JVM has loaded, or null.
void* loadedSymbol(const char* library, const char* symbol);

// Fixture of a test that calls into the JVM. Standard output (the JVM's, the
// natives' and the test's own) is captured while the test runs and shown after
// it. The test fails when the JVM's JNI checks warned or an exception is left
// pending.
class JvmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Standard output of this test so far.
    std::string output();
    // Standard output of every JvmTest of this process so far, this one included.
    std::string processOutput();

    // The pending exception as "<class name>: <message>", cleared; empty when
    // none is pending.
    std::string takeException();

    // A new object of a class by its constructor without arguments.
    jobject newObject(const char* className);
    // An int-returning instance method called by name and JNI signature.
    jint callInt(jobject object, const char* method, const char* signature, ...);
    // A native called directly, not through the JVM, so that its return value
    // shows even when it throws (a Java caller then sees only the exception).
    template <typename Result, typename... Args>
    Result callNative(const char* library, const std::string& symbol, jobject self, Args... args)
    {
        using Native = Result (*)(JNIEnv*, jobject, Args...);
        auto native = reinterpret_cast<Native>(loadedSymbol(library, symbol.c_str()));
        if (!native) {
            ADD_FAILURE() << library << " has no " << symbol;
            return Result{};
        }
        const Result result = native(env, self, args...);
        env->ExceptionCheck(); // as on the way back into Java
        return result;
    }

    jbyteArray byteArray(const std::string& bytes);
    jint intField(jobject object, const char* field);
    void setIntField(jobject object, const char* field, jint value);
    void setBytesField(jobject object, const char* field, const std::string& bytes);
    std::string bytesOf(jbyteArray array);

    JNIEnv* env = nullptr;
};

} // namespace testsupport
