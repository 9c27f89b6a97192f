#pragma once

// ZIDE_ASAN is 1 in a build under AddressSanitizer (gcc says so one way, clang another): its
// shadow memory and quarantine make address-space limits and memory peaks meaningless there.
#if defined(__SANITIZE_ADDRESS__)
#define ZIDE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZIDE_ASAN 1
#endif
#endif
#ifndef ZIDE_ASAN
#define ZIDE_ASAN 0
#endif
