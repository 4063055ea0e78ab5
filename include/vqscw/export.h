// Symbol visibility for the library's exported interface.
//
// The library is built with hidden visibility; only declarations marked here, and only those
// that its version script also lists, appear in libvqscwlib.so's dynamic symbol table.
#ifndef VQSCW_EXPORT_H_
#define VQSCW_EXPORT_H_

#define VQSCW_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define VQSCW_C_EXPORT extern "C" VQSCW_EXPORT
#else
#define VQSCW_C_EXPORT VQSCW_EXPORT
#endif

#endif  // VQSCW_EXPORT_H_
