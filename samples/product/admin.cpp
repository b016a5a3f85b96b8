// Stand-in for the product's Admin.dll: the updater only checks that it exists.
extern "C" __declspec(dllexport) int AdminVersion() { return 1; }
