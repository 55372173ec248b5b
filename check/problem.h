// A problem the check found: what is wrong, what Java said about it, and how to fix it.
#pragma once

#include <string>

namespace launcher::check {

struct Problem {
  int line = 0;         // the line of init.ini to fix, 1 to 4; 0 when it is no one line
  std::string subject;  // for line 0: what the problem is about ("init.ini", "java", ...)
  std::string what;     // what is wrong, for a person
  std::string java;     // Java's own words about it, when Java said something
  std::string fix;      // how to fix it
};

}  // namespace launcher::check
