// Stand-ins for the installed product's programs: the updater only checks that they exist
// and reads the file version of Varnolith.exe.
int main() { return 0; }
