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
#   - control-flow protection (indirect-branch tracking and shadow-stack compatibility marks).
# All of it applies to the code that goes into the launcher binary: the two libraries and the
# executable. It stays valid for a static PIE (-static-pie) link as well.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)

set(launcher_hardening_compile_options
    -fstack-protector-strong
    -fstack-clash-protection
    -fcf-protection=full
    $<$<AND:$<NOT:$<CONFIG:Debug>>,$<COMPILE_LANGUAGE:C,CXX>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>)

foreach(target launcher_platform launcher_core launcher)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${target} PRIVATE ${launcher_hardening_compile_options})
endforeach()

target_link_options(launcher PRIVATE LINKER:-z,relro,-z,now)
