#include "launcher/driver.h"
#include "platform/startup.h"

int main() { launcher::StartUp(launcher::RunDriver); }
