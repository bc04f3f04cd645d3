// The choice of the vector level.
#include "common/byte_classes.h"

#ifdef VORBIX_HAVE_AVX2
#include <cpuid.h>
#endif

namespace {

#ifdef VORBIX_HAVE_AVX2
// Asked of the processor itself: __builtin_cpu_supports needs a runtime
// library that a static musl build does not link. AVX2 needs the processor's
// flag and the system's saving of the 256-bit registers; the level also uses
// POPCNT, BMI1, BMI2 and LZCNT, which every processor with AVX2 has, but a
// virtual machine may hide, so they are asked for too.
bool ask_processor_for_avx2() {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned POPCNT = 1u << 23, OSXSAVE = 1u << 27, AVX = 1u << 28;
    if ((ecx & POPCNT) == 0 || (ecx & OSXSAVE) == 0 || (ecx & AVX) == 0)
        return false;
    unsigned saved_low, saved_high;
    __asm__("xgetbv" : "=a"(saved_low), "=d"(saved_high) : "c"(0));
    (void)saved_high;
    const unsigned XMM_AND_YMM_STATE = 6;
    if ((saved_low & XMM_AND_YMM_STATE) != XMM_AND_YMM_STATE || __get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const unsigned BMI1 = 1u << 3, AVX2 = 1u << 5, BMI2 = 1u << 8;
    if ((ebx & (BMI1 | AVX2 | BMI2)) != (BMI1 | AVX2 | BMI2))
        return false;
    if (!__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned LZCNT = 1u << 5;
    return (ecx & LZCNT) != 0;
}

bool processor_has_avx2() {
    static const bool has = ask_processor_for_avx2();
    return has;
}
#endif

vector_level best_level() {
#ifdef VORBIX_HAVE_AVX2
    if (processor_has_avx2())
        return vector_level::AVX2;
#endif
#ifdef VORBIX_HAVE_SSE2
    return vector_level::SSE2;
#elif defined(VORBIX_HAVE_NEON)
    return vector_level::NEON;
#else
    return vector_level::PLAIN;
#endif
}

bool level_chosen = false;
vector_level chosen_level = vector_level::PLAIN;

} // namespace

vector_level current_vector_level() {
    if (!level_chosen)
        use_vector_level(best_level());
    return chosen_level;
}

bool use_vector_level(vector_level level) {
    switch (level) {
    case vector_level::PLAIN:
        break;
    case vector_level::SSE2:
#ifdef VORBIX_HAVE_SSE2
        break;
#else
        return false;
#endif
    case vector_level::AVX2:
#ifdef VORBIX_HAVE_AVX2
        if (!processor_has_avx2())
            return false;
        break;
#else
        return false;
#endif
    case vector_level::NEON:
#ifdef VORBIX_HAVE_NEON
        break;
#else
        return false;
#endif
    }
    chosen_level = level;
    level_chosen = true;
    return true;
}
