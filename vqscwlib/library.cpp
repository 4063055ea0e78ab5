// libvqscwlib.so: everything lives in the internal archive linked into this library; this unit
// only gives the shared object a translation unit of its own.
