/* VARNOK_TEST_ASAN is defined when the test program is built under AddressSanitizer, by gcc
   (__SANITIZE_ADDRESS__) or clang (__has_feature). C and C++. */
#ifndef VARNOK_TEST_ADDRESS_SANITIZER_H
#define VARNOK_TEST_ADDRESS_SANITIZER_H

#if defined(__SANITIZE_ADDRESS__)
#define VARNOK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNOK_TEST_ASAN 1
#endif
#endif

#endif
