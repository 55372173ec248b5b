# The hardening the launcher ships with. The launcher is the first program of every launch of
# the user's application and reads a file that anyone with write access to the working directory
# controls, so it is built with the protections of a hardened distribution package:
#   - a position-independent executable (its code is placed at a random address);
#   - full RELRO: relocations are done at start-up and the tables they wrote become read-only;
#   - stack protector (strong): a canary in every function with an array or an address-taken
#     local, checked before it returns;
#   - _FORTIFY_SOURCE=2: the C library checks the sizes of buffers it writes into when the
#     compiler knows them (it needs optimisation, so Debug builds go without it);
#   - stack clash protection: large stack allocations touch every page, so the stack cannot be
#     made to jump over its guard page;
#   - control-flow protection (indirect-branch tracking and shadow-stack compatibility marks; on
#     arm64 branch target identification and pointer authentication of return addresses).
# All of it applies to the code that goes into the launcher binary (the two libraries and the
# executable) and into launcher-check, which ships beside it. It stays valid for a static PIE
# (-static-pie) link as well.
# LAUNCHER_HARDENING_EXCLUDE names protections to leave out, only to measure what each costs
# (tests/reliability/hardening_cost.sh): pie, relro, now, stack-protector, fortify, stack-clash,
# cet. The build that ships excludes nothing, and a CTest check reads the binary for all of them.
set(LAUNCHER_HARDENING_EXCLUDE "" CACHE STRING "Protections left out (for measuring only)")

include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

set(launcher_hardening_compile_options)
set(launcher_hardening_link_options)
if(NOT "stack-protector" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  list(APPEND launcher_hardening_compile_options -fstack-protector-strong)
endif()
if(NOT "stack-clash" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  list(APPEND launcher_hardening_compile_options -fstack-clash-protection)
endif()
if(NOT "cet" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    # arm64's counterpart: branch target identification (BTI landing pads) and return addresses
    # signed with pointer authentication (PAC), marked in the GNU property note.
    list(APPEND launcher_hardening_compile_options -mbranch-protection=standard)
  else()
    list(APPEND launcher_hardening_compile_options -fcf-protection=full)
  endif()
endif()
if(NOT "fortify" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  list(APPEND launcher_hardening_compile_options
       $<$<AND:$<NOT:$<CONFIG:Debug>>,$<COMPILE_LANGUAGE:C,CXX>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>)
endif()
if(NOT "relro" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  list(APPEND launcher_hardening_link_options LINKER:-z,relro)
endif()
if(NOT "now" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  list(APPEND launcher_hardening_link_options LINKER:-z,now)
endif()
set(launcher_pie ON)
if("pie" IN_LIST LAUNCHER_HARDENING_EXCLUDE)
  set(launcher_pie OFF)
  list(APPEND launcher_hardening_compile_options -fno-pie)
endif()

foreach(target launcher_platform launcher_core check_core ${launcher_programs})
  if(NOT TARGET ${target})
    continue()  # launcher-check's, when it is left out
  endif()
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ${launcher_pie})
  target_compile_options(${target} PRIVATE ${launcher_hardening_compile_options})
endforeach()
foreach(program IN LISTS launcher_programs)
  target_link_options(${program} PRIVATE ${launcher_hardening_link_options})
endforeach()
