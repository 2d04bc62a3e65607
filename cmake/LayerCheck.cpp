// The program each layer check links: every object of one layer and the layers below it. It is
// never run; linking it is the check.
int main() { return 0; }
