// SDP files for heard sources (advspy_GenerateSDP) are public.
#ifndef VQSCWLIB_PROTOCOL_SDP_WRITER_H_
#define VQSCWLIB_PROTOCOL_SDP_WRITER_H_

#include "vqscw/host.h"
#include "vqscwlib/protocol/source_table.h"

#endif  // VQSCWLIB_PROTOCOL_SDP_WRITER_H_
