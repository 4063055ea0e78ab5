// libvqscwlib.so: everything lives in the layers' archives linked whole into this library; this
// unit only gives the shared object a translation unit of its own.
