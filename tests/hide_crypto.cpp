// Preloaded into the tests under an emulated ARM processor to hide the
// cryptography extension from them, as on a Raspberry Pi 4, whose Cortex-A72
// lacks it. Highway's NEON target needs AES, so such a processor offers no
// SIMD target at all and the drawing falls back to the build's baseline code;
// the tests must pass there too.

#include <dlfcn.h>
#include <sys/auxv.h>

namespace {

unsigned long withoutCrypto(unsigned long type, unsigned long value) {
    constexpr unsigned long kCrypto = HWCAP_AES | HWCAP_PMULL | HWCAP_SHA1 | HWCAP_SHA2;
    return type == AT_HWCAP ? value & ~kCrypto : value;
}

template <class Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" unsigned long getauxval(unsigned long type) {
    static const auto real = next<unsigned long (*)(unsigned long)>("getauxval");
    return withoutCrypto(type, real(type));
}

extern "C" unsigned long __getauxval(unsigned long type) {  // NOLINT(bugprone-reserved-identifier)
    static const auto real = next<unsigned long (*)(unsigned long)>("__getauxval");
    return withoutCrypto(type, real(type));
}
