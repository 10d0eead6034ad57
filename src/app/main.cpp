#include "app/startup.h"

int main() { return palisard::RunPalisard(); }
