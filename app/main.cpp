#include "app/modMain.h"

int main(int argc, char* argv[]) { return kestrel::Main(argc, argv); }
