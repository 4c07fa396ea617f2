// A byte outside the language is named by its value, before anything runs.
number café = 1;
