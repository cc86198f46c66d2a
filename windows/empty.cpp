// The shared library is made of the static subsystem libraries; this translation unit only gives the target a
// source of its own.
