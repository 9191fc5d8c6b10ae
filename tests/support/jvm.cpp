#include "jvm.h"

#include <dlfcn.h>
#include <sys/mman.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <unistd.h>
#include <vector>

namespace testsupport {

// Defined by add_jvm_test for each test program.
extern const char* const jvmClassPath;
extern const char* const jvmLibraryPath;

namespace {

JavaVM* vm = nullptr;

// Standard output goes to an anonymous file while a test runs.
int captureFd = -1;
int savedStdout = -1;
std::string earlierOutput;

void copyCapture(int to)
{
    char chunk[4096];
    off_t at = 0;
    ssize_t n;
    while ((n = pread(captureFd, chunk, sizeof chunk, at)) > 0) {
        if (write(to, chunk, static_cast<size_t>(n)) != n) break;
        at += n;
    }
}

// A JNI check that fails hard aborts the process: show what was captured first.
void onAbort(int sig)
{
    if (captureFd >= 0 && savedStdout >= 0) copyCapture(savedStdout);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Without this the JVM's own threads would still run while the process's static
// objects are destroyed.
class JvmShutdown : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (vm) vm->DestroyJavaVM();
        vm = nullptr;
    }
};

std::string readCapture()
{
    std::fflush(stdout);
    std::cout.flush();
    std::string text;
    char chunk[4096];
    off_t at = 0;
    ssize_t n;
    while ((n = pread(captureFd, chunk, sizeof chunk, at)) > 0) {
        text.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

} // namespace

JNIEnv* jvmEnv()
{
    JNIEnv* env = nullptr;
    if (vm) {
        if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_8) != JNI_OK)
            vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
        return env;
    }
    void* jvmLibrary = dlopen(JVM_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    if (!jvmLibrary) {
        std::fprintf(stderr, "cannot load %s: %s\n", JVM_LIBRARY, dlerror());
        return nullptr;
    }
    using Create = jint (*)(JavaVM**, void**, void*);
    auto create = reinterpret_cast<Create>(dlsym(jvmLibrary, "JNI_CreateJavaVM"));
    const std::string classPath = std::string("-Djava.class.path=") + jvmClassPath;
    const std::string libraryPath = std::string("-Djava.library.path=") + jvmLibraryPath;
    std::vector<std::string> options = {
        "-Xcheck:jni", classPath, libraryPath,
        "-Xrs",                // the test process keeps its own signal handling
        "-XX:-UsePerfData",    // no files under /tmp
        "-XX:+UseSerialGC", "-Xmx128m",
    };
    std::vector<JavaVMOption> jvmOptions(options.size());
    for (size_t i = 0; i < options.size(); ++i) jvmOptions[i].optionString = const_cast<char*>(options[i].c_str());
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = static_cast<jint>(jvmOptions.size());
    args.options = jvmOptions.data();
    args.ignoreUnrecognized = JNI_FALSE;
    if (!create || create(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
        std::fprintf(stderr, "cannot start a JVM\n");
        vm = nullptr;
        return nullptr;
    }
    ::testing::AddGlobalTestEnvironment(new JvmShutdown);
    return env;
}

void* loadedSymbol(const char* library, const char* symbol)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    void* found = dlsym(handle, symbol);
    dlclose(handle);
    return found;
}

void JvmTest::SetUp()
{
    std::fflush(stdout);
    std::cout.flush();
    if (captureFd < 0) {
        captureFd = memfd_create("jvmtest-stdout", MFD_CLOEXEC);
        signal(SIGABRT, onAbort);
    }
    ASSERT_GE(captureFd, 0);
    ASSERT_EQ(ftruncate(captureFd, 0), 0);
    lseek(captureFd, 0, SEEK_SET);
    savedStdout = dup(STDOUT_FILENO);
    dup2(captureFd, STDOUT_FILENO);
    env = jvmEnv();
    ASSERT_NE(env, nullptr);
}

void JvmTest::TearDown()
{
    const std::string pending = env ? takeException() : std::string();
    const std::string text = readCapture();
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    savedStdout = -1;
    earlierOutput += text;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    EXPECT_EQ(text.find("WARNING in native method"), std::string::npos) << "the JVM's JNI checks warned";
    EXPECT_EQ(pending, "") << "exception left pending";
}

std::string JvmTest::output() { return readCapture(); }

std::string JvmTest::processOutput() { return earlierOutput + readCapture(); }

std::string JvmTest::takeException()
{
    jthrowable thrown = env->ExceptionOccurred();
    if (!thrown) return "";
    env->ExceptionClear();
    jclass cls = env->GetObjectClass(thrown);
    jclass classClass = env->FindClass("java/lang/Class");
    auto name = static_cast<jstring>(
        env->CallObjectMethod(cls, env->GetMethodID(classClass, "getName", "()Ljava/lang/String;")));
    env->ExceptionCheck();
    auto message = static_cast<jstring>(
        env->CallObjectMethod(thrown, env->GetMethodID(cls, "getMessage", "()Ljava/lang/String;")));
    env->ExceptionCheck();
    auto text = [this](jstring s) {
        if (!s) return std::string("null");
        const char* chars = env->GetStringUTFChars(s, nullptr);
        std::string copy(chars);
        env->ReleaseStringUTFChars(s, chars);
        env->DeleteLocalRef(s);
        return copy;
    };
    std::string result = text(name) + ": " + text(message);
    env->DeleteLocalRef(classClass);
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(thrown);
    return result;
}

jobject JvmTest::newObject(const char* className)
{
    jclass cls = env->FindClass(className);
    if (!cls) {
        ADD_FAILURE() << "no class " << className << ": " << takeException();
        return nullptr;
    }
    jobject object = env->NewObject(cls, env->GetMethodID(cls, "<init>", "()V"));
    env->DeleteLocalRef(cls);
    return object;
}

jint JvmTest::callInt(jobject object, const char* method, const char* signature, ...)
{
    jclass cls = env->GetObjectClass(object);
    jmethodID id = env->GetMethodID(cls, method, signature);
    env->DeleteLocalRef(cls);
    if (!id) {
        ADD_FAILURE() << "no method " << method << signature << ": " << takeException();
        return 0;
    }
    va_list args;
    va_start(args, signature);
    const jint result = env->CallIntMethodV(object, id, args);
    va_end(args);
    env->ExceptionCheck(); // an exception stays pending for takeException()
    return result;
}

namespace {

jfieldID fieldOf(JNIEnv* env, jobject object, const char* field, const char* signature)
{
    jclass cls = env->GetObjectClass(object);
    jfieldID id = env->GetFieldID(cls, field, signature);
    env->DeleteLocalRef(cls);
    return id;
}

} // namespace

jint JvmTest::intField(jobject object, const char* field)
{
    return env->GetIntField(object, fieldOf(env, object, field, "I"));
}

void JvmTest::setIntField(jobject object, const char* field, jint value)
{
    env->SetIntField(object, fieldOf(env, object, field, "I"), value);
}

jbyteArray JvmTest::byteArray(const std::string& bytes)
{
    jbyteArray array = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
}

void JvmTest::setBytesField(jobject object, const char* field, const std::string& bytes)
{
    jbyteArray array = byteArray(bytes);
    env->SetObjectField(object, fieldOf(env, object, field, "[B"), array);
    env->DeleteLocalRef(array);
}

std::string JvmTest::bytesOf(jbyteArray array)
{
    std::string bytes(static_cast<size_t>(env->GetArrayLength(array)), '\0');
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(&bytes[0]));
    return bytes;
}

} // namespace testsupport
