// Placeholder until the terminal host lands.
int main() { return 0; }
