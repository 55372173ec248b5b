// The code a fault continues in, after FaultSignalHandler has pointed the interrupted context at
// it (see fault_x86_64.cc): rsp is the 16-aligned base below the red zone, r11 holds the return
// address, r10 the caller's rsp and rbp the caller's rbp. It pushes them to make the frame of a
// call at the faulting instruction, then calls launcher_raise_fault(code, address, frame) with
// the arguments the handler left in rdi, rsi and rdx. Its unwind information describes that
// frame: the canonical frame address is the base, the return address, the caller's rbp and the
// caller's rsp lie at base - 8, - 16 and - 24.
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
        .cfi_def_cfa %rsp, 0
        .cfi_register 16, %r11          // the return address (column 16) is in r11
        .cfi_register %rsp, %r10
        _CET_ENDBR
        pushq   %r11
        .cfi_adjust_cfa_offset 8
        .cfi_offset 16, -8
        pushq   %rbp
        .cfi_adjust_cfa_offset 8
        .cfi_offset %rbp, -16
        pushq   %r10
        .cfi_adjust_cfa_offset 8
        .cfi_offset %rsp, -24
        subq    $8, %rsp
        .cfi_adjust_cfa_offset 8
        call    launcher_raise_fault@PLT
        ud2
        .cfi_endproc
        .size   launcher_fault_trampoline, .-launcher_fault_trampoline

        .section .note.GNU-stack,"",@progbits
