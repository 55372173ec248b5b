#include "check/check.h"
#include "platform/startup.h"

int main(int argc, char** argv) {
  launcher::check::SetArguments(argc, argv);
  launcher::StartUp(launcher::check::RunCheck);
}
