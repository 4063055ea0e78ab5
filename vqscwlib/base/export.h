// Symbol visibility for the library's exported interface: the public header's macros.
#ifndef VQSCWLIB_BASE_EXPORT_H_
#define VQSCWLIB_BASE_EXPORT_H_

#include "vqscw/export.h"

#endif  // VQSCWLIB_BASE_EXPORT_H_
