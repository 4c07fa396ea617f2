// Saved by an editor that writes a UTF-8 byte-order mark first.
Result("runs\n");
