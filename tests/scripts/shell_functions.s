// The plug-in's small functions: verbosity, mouse state and the Escape key.
SetORVANverbosity(2.9);
SetORVANverbosity(-0.5);
SetORVANverbosity(1);
Result("no such button: " + GetMouseState("ml") + "\n");
Result("left button up: " + GetMouseState("lm") + "\n");
FakeESC();
Result("done\n");
