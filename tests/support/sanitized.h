// Whether this build runs under a sanitizer. A few tests measure or limit
// memory in ways that the sanitizers' own allocators and shadow memory
// defeat; they look here.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KELP_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KELP_SANITIZED 1
#endif
#endif
