// Functions nobody registered are refused.
Result("before\n");
NoSuchFunction(1);
Result("after\n");
