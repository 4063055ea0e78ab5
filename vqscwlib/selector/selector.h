// The selector dialog's entry points and records are public.
#ifndef VQSCWLIB_SELECTOR_SELECTOR_H_
#define VQSCWLIB_SELECTOR_SELECTOR_H_

#include "vqscw/selector.h"

#endif  // VQSCWLIB_SELECTOR_SELECTOR_H_
