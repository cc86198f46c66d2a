// The class name of the power handler's hidden window. Tests and tools find the window by it, so it is written once.
#pragma once

inline constexpr char POWER_WINDOW_CLASS[] = "JPOS Power Handler Window";
