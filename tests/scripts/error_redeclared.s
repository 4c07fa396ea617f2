// A name declared twice in one scope is an error, even as another kind.
number a = 1;
{
    number a = 2;
}
Result("inner scope may reuse it\n");
string a = "again";
