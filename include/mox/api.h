/* mox record runtime: export and alignment macros shared by its headers. */
#ifndef MOX_API_H
#define MOX_API_H

#ifdef __cplusplus
#define MOX_ALIGN8 alignas(8)
#else
#define MOX_ALIGN8 _Alignas(8)
#endif

/* The runtime library is built with hidden visibility; MOX_API marks its exports. */
#if defined(MOX_RUNTIME_BUILD)
#define MOX_API __attribute__((visibility("default")))
#else
#define MOX_API
#endif

#endif /* MOX_API_H */
