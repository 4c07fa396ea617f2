// An out-parameter needs a variable of its kind; the handler is not called.
image img := RealImage("p", 4, 8, 8);
number x = 1;
Result("ready\n");
GuessCenter(img, x, 2);
Result("never\n");
