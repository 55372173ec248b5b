// The code a fault continues in, after FaultSignalHandler has built its frame (see
// fault_x86_64.cc): it calls launcher_raise_fault(code, address, frame) with the arguments the
// handler left in rdi, rsi and rdx. Its unwind information describes the handler's frame: the
// canonical frame address is the 16-aligned base, the return address, the caller's rsp and the
// caller's rbp lie at base - 8, - 16 and - 24.
#if defined(__CET__)
#include <cet.h>
#else
#define _CET_ENDBR
#endif

        .text
        .globl  launcher_fault_trampoline
        .type   launcher_fault_trampoline, @function
launcher_fault_trampoline:
        .cfi_startproc
        .cfi_def_cfa %rsp, 32
        .cfi_offset %rsp, -16
        .cfi_offset %rbp, -24
        _CET_ENDBR
        call    launcher_raise_fault@PLT
        ud2
        .cfi_endproc
        .size   launcher_fault_trampoline, .-launcher_fault_trampoline

        .section .note.GNU-stack,"",@progbits
