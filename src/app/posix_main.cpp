// Entry point of the Linux build (posix backend).
int main() { return 0; }
