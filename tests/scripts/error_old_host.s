// orvanhost: --host-version 3.9.0
// An old host refuses the module at start-up.
Result("never\n");
