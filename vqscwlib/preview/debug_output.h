// The debug output that media objects write their diagnostic lines to: standard error, while the
// environment variable VQSCW_DEBUG_OUTPUT is set to a value other than "" or "0" (checked at each
// line). Safe from any thread.
#ifndef VQSCWLIB_PREVIEW_DEBUG_OUTPUT_H_
#define VQSCWLIB_PREVIEW_DEBUG_OUTPUT_H_

namespace vqscw {

// Writes `text` and a line feed as one write.
void DebugOutput(const char* text);

}  // namespace vqscw

#endif  // VQSCWLIB_PREVIEW_DEBUG_OUTPUT_H_
