// The C interface of occsolve as a shared library (the static library linked whole), so
// that the Python tests can call it through ctypes and compare its bits with the module's.
