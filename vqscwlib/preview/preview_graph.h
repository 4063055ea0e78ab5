// The preview's media graph: it holds filters, renders an output pin to the audio output (a
// GstAudioRenderer), runs and stops its filters, and sets the output volume.
//
// State changes go downstream first: filters are added source first, and Run and Stop visit them
// in reverse, so the audio output is running before the source pushes into it and stopped (with
// every sample released) before the source waits for its receive thread.
//
// Releasing the last reference stops the graph, breaks the connections it made and releases its
// filters. Threads: one control thread at a time; nothing here is locked.
#ifndef VQSCWLIB_PREVIEW_PREVIEW_GRAPH_H_
#define VQSCWLIB_PREVIEW_PREVIEW_GRAPH_H_

#include "vqscwlib/preview/media_interfaces.h"

// Creates an empty, stopped graph and stores its IGraphBuilder interface, with one reference for
// the caller, in *graph. The graph also answers IMediaControl and IBasicAudio. put_Volume gives
// E_NOTIMPL while no pin has been rendered.
HRESULT CreatePreviewGraph(IGraphBuilder** graph);

#endif  // VQSCWLIB_PREVIEW_PREVIEW_GRAPH_H_
