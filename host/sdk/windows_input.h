// The desktop input functions a module uses, with the meaning of their
// Windows namesakes, served by the host.
#pragma once

#include <cstdint>

// The key-state word of a virtual key: 0x8000 set while the key is down,
// bit 0 set when it was pressed since the previous query (the query clears
// it). 0 when there is no host.
short GetAsyncKeyState(int virtual_key);

// Sends one key event (flags 0: down, 2 (KEYEVENTF_KEYUP): up) to whatever
// has the keyboard focus. Without a host nothing happens.
void keybd_event(unsigned char virtual_key, unsigned char scan_code, unsigned long flags, uintptr_t extra_info);

constexpr unsigned long KEYEVENTF_KEYUP = 2;
