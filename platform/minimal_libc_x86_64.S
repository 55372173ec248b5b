// The assembly parts of the launcher executable's own C library (see minimal_libc.cc): the
// process entry, vfork and the return from a signal handler.
#if defined(__CET__)
#include <cet.h>
#else
#define _CET_ENDBR
#endif

        .text

// The kernel starts the process here with rsp at argc. The outermost frame has rbp = 0, which
// ends every frame-pointer walk, and no return address to unwind to.
        .globl  _start
        .type   _start, @function
_start:
        .cfi_startproc
        .cfi_undefined %rip
        _CET_ENDBR
        xorl    %ebp, %ebp
        movq    %rsp, %rdi
        andq    $-16, %rsp
        call    launcher_libc_start
        hlt
        .cfi_endproc
        .size   _start, .-_start

// pid_t vfork(void). The child runs on the parent's stack until it calls execve or _exit, and
// would overwrite this function's return address there: keep it in rdi (preserved by the
// system call) and put it back afterwards, in the child and in the parent.
        .globl  vfork
        .type   vfork, @function
vfork:
        .cfi_startproc
        _CET_ENDBR
        popq    %rdi
        .cfi_adjust_cfa_offset -8
        .cfi_register %rip, %rdi
        movl    $58, %eax
        syscall
        pushq   %rdi
        .cfi_adjust_cfa_offset 8
        .cfi_rel_offset %rip, 0
        cmpq    $-4095, %rax
        jae     1f
        ret
1:
        negl    %eax
        movl    %eax, launcher_libc_errno(%rip)
        movq    $-1, %rax
        ret
        .cfi_endproc
        .size   vfork, .-vfork

// The restorer of every handler installed through sigaction: returns from the signal frame.
        .globl  launcher_libc_restore_rt
        .type   launcher_libc_restore_rt, @function
launcher_libc_restore_rt:
        movq    $15, %rax
        syscall
        hlt
        .size   launcher_libc_restore_rt, .-launcher_libc_restore_rt

        .section .note.GNU-stack,"",@progbits
