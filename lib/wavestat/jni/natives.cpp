// The data processor's two natives: the Java arrays taken for the call and
// handed to the record analysis.  A context lives only inside one call, so
// the natives may run on several Java threads at once.
#include <cstdio>

#include "kestrom_brim_dataprocessor_swap_SWAPDataProcessor.h"
#include "kestrom_brim_dataprocessor_swap_SWAPDirDataProcessor.h"
#include "swaprecord.h"

namespace {

// The elements of one Java array for the length of a call, given back with
// mode 0 (copied back and released).  A null array, or one whose elements
// could not be had, is not ok; after a failed fetch nothing more is fetched.
template <typename Array, typename Element, Element* (JNIEnv::*Get)(Array, jboolean*),
          void (JNIEnv::*Release)(Array, Element*, jint)>
class Elements {
public:
    Elements(JNIEnv* env, Array array) : env(env), array(array)
    {
        if (!array || env->ExceptionCheck())
            return;
        length = env->GetArrayLength(array);
        elements = (env->*Get)(array, nullptr);
    }
    ~Elements()
    {
        if (elements)
            (env->*Release)(array, elements, 0);
    }
    Elements(const Elements&) = delete;
    Elements& operator=(const Elements&) = delete;

    bool ok() const { return elements != nullptr; }
    jsize size() const { return length; }
    Element* data() const { return elements; }

private:
    JNIEnv* env;
    Array array;
    jsize length = 0;
    Element* elements = nullptr;
};

using Ints = Elements<jintArray, jint, &JNIEnv::GetIntArrayElements, &JNIEnv::ReleaseIntArrayElements>;
using Floats = Elements<jfloatArray, jfloat, &JNIEnv::GetFloatArrayElements, &JNIEnv::ReleaseFloatArrayElements>;

struct Argument {
    const char* name;
    bool ok;
    bool null;
};

// True when every array was had.  A null one is named; one whose elements the
// JVM could not give leaves its exception for the caller.
template <size_t N>
bool AllHad(const Argument (&arguments)[N])
{
    for (const Argument& a : arguments) {
        if (a.ok)
            continue;
        if (a.null) {
            std::printf("SWAP ERROR: array missing: %s\n", a.name);
            std::fflush(stdout);
        }
        return false;
    }
    return true;
}

} // namespace

JNIEXPORT jint JNICALL Java_kestrom_brim_dataprocessor_swap_SWAPDataProcessor_swapGetHLevelFromSamples(
    JNIEnv* env, jobject, jintArray times, jfloatArray heights, jint maxWaves, jintArray params, jfloatArray result)
{
    const Ints t(env, times);
    const Floats h(env, heights);
    const Ints p(env, params);
    const Floats r(env, result);
    if (!AllHad({{"times", t.ok(), !times}, {"heights", h.ok(), !heights}, {"params", p.ok(), !params},
                 {"result", r.ok(), !result}}))
        return 0;
    if (t.size() != h.size()) {
        std::printf("SWAP ERROR: arrays are not the same size: %i, %i \n", t.size(), h.size());
        std::fflush(stdout);
        return 0;
    }
    return GetHLevelFromSamples(t.data(), h.data(), t.size(), maxWaves, p.data(), p.size(), r.data(), r.size());
}

JNIEXPORT jint JNICALL Java_kestrom_brim_dataprocessor_swap_SWAPDirDataProcessor_swapGetHDLevelFromSamples(
    JNIEnv* env, jobject, jintArray times, jfloatArray heave, jfloatArray x, jfloatArray y, jfloat theta0,
    jint maxWaves, jintArray params, jfloatArray result)
{
    const Ints t(env, times);
    const Floats h(env, heave);
    const Floats xs(env, x);
    const Floats ys(env, y);
    const Ints p(env, params);
    const Floats r(env, result);
    if (!AllHad({{"times", t.ok(), !times}, {"heave", h.ok(), !heave}, {"x", xs.ok(), !x}, {"y", ys.ok(), !y},
                 {"params", p.ok(), !params}, {"result", r.ok(), !result}}))
        return 0;
    const jsize n = t.size();
    if (h.size() != n || xs.size() != n || ys.size() != n) {
        std::printf("SWAP ERROR: arrays are not the same size: %i, %i, %i, %i \n", n, h.size(), xs.size(),
                    ys.size());
        std::fflush(stdout);
        return 0;
    }
    return GetHDLevelFromSamples(t.data(), h.data(), xs.data(), ys.data(), n, theta0, maxWaves, p.data(), p.size(),
                                 r.data(), r.size());
}
