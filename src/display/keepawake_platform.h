#pragma once

class KeepAwake;

// The implementation for the platform the program runs on; each platform's
// source file defines it.
KeepAwake &platformKeepAwake();
