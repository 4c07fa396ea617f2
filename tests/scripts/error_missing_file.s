// Unreadable files are named.
image i := OpenImage("no/such/dir/pattern.tif");
