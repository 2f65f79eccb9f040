// Placeholder until the application flow lands.
int main() { return 0; }
