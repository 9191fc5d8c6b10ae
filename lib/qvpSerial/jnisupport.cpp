#include "jnisupport.h"

namespace qvpserial {

bool throwIOException(JNIEnv* env, const char* text)
{
    jclass cls = env->FindClass("java/io/IOException");
    if (!cls) return false;
    env->ThrowNew(cls, text);
    env->DeleteLocalRef(cls);
    return true;
}

bool haveIOException(JNIEnv* env)
{
    jclass cls = env->FindClass("java/io/IOException");
    if (!cls) return false;
    env->DeleteLocalRef(cls);
    return true;
}

ConfigReader::ConfigReader(JNIEnv* env, jobject cfg) : env(env), cfg(cfg)
{
    if (!cfg) {
        jclass npe = env->FindClass("java/lang/NullPointerException");
        if (npe) env->ThrowNew(npe, "SerialConfig is null");
        return;
    }
    cls = env->GetObjectClass(cfg);
    ok_ = cls != nullptr;
}

ConfigReader::~ConfigReader()
{
    if (cls) env->DeleteLocalRef(cls);
}

jmethodID ConfigReader::method(const char* name, const char* signature)
{
    if (!ok_) return nullptr;
    jmethodID id = env->GetMethodID(cls, name, signature);
    ok_ = id != nullptr;
    return id;
}

jint ConfigReader::getInt(const char* name)
{
    jmethodID id = method(name, "()I");
    if (!id) return 0;
    const jint value = env->CallIntMethod(cfg, id);
    ok_ = !env->ExceptionCheck();
    return ok_ ? value : 0;
}

std::size_t ConfigReader::getBytes(const char* name, char* buf, std::size_t size)
{
    jmethodID id = method(name, "()[B");
    if (!id) return 0;
    auto array = static_cast<jbyteArray>(env->CallObjectMethod(cfg, id));
    ok_ = !env->ExceptionCheck();
    if (!ok_ || !array) return 0;
    const jsize length = env->GetArrayLength(array);
    const jsize copied = static_cast<std::size_t>(length) < size ? length : static_cast<jsize>(size);
    env->GetByteArrayRegion(array, 0, copied, reinterpret_cast<jbyte*>(buf));
    env->DeleteLocalRef(array);
    return static_cast<std::size_t>(length);
}

void ConfigReader::setPortNum(jint portNum)
{
    jmethodID id = method("setPortNum", "(I)V");
    if (!id) return;
    env->CallVoidMethod(cfg, id, portNum);
    ok_ = !env->ExceptionCheck();
}

} // namespace qvpserial
