// The code a fault continues in, after FaultSignalHandler has pointed the interrupted context at
// it (see fault_aarch64.cc): sp is the 16-aligned base at or below sp at the fault, x16 holds the
// return address, x17 sp at the fault, and x29 and x30 are as they were at the fault. It stores
// them to make the frame of a call at the faulting instruction, then calls
// launcher_raise_fault(code, address, frame) with the arguments the handler left in x0, x1 and x2.
//
// Its unwind information describes that frame: the canonical frame address is the base; x29, the
// return address, x30 and sp lie at base - 32, - 24, - 16 and - 8. The return address has a
// column of its own (96, the unwinder's alternate return column) rather than x30's: the faulting
// function may still hold its own return address in x30, and the unwinder must restore that.
// The return address is not signed, so the frame carries no pointer-authentication state.

// Branch target identification: the landing pad (bti c, in the hint space: a no-op on processors
// without it) and the features this object is compatible with, in its GNU property note.
#define FEATURE_1_BTI 1
#define FEATURE_1_PAC 2
#if defined(__ARM_FEATURE_BTI_DEFAULT) && __ARM_FEATURE_BTI_DEFAULT
#define BTI_C hint 34
#define PROPERTY_BTI FEATURE_1_BTI
#else
#define BTI_C
#define PROPERTY_BTI 0
#endif
#if defined(__ARM_FEATURE_PAC_DEFAULT) && __ARM_FEATURE_PAC_DEFAULT
#define PROPERTY_PAC FEATURE_1_PAC
#else
#define PROPERTY_PAC 0
#endif

        .text
        .p2align 2
        .globl  launcher_fault_trampoline
        .type   launcher_fault_trampoline, %function
launcher_fault_trampoline:
        .cfi_startproc
        .cfi_return_column 96
        .cfi_def_cfa sp, 0
        .cfi_register 96, x16           // the return address is in x16
        .cfi_register sp, x17           // sp at the fault is in x17
        BTI_C
        stp     x29, x16, [sp, #-32]!
        .cfi_def_cfa_offset 32
        .cfi_offset x29, -32
        .cfi_offset 96, -24
        stp     x30, x17, [sp, #16]
        .cfi_offset x30, -16
        .cfi_offset sp, -8
        mov     x29, sp
        bl      launcher_raise_fault
        brk     #0x3e8                  // launcher_raise_fault does not return
        .cfi_endproc
        .size   launcher_fault_trampoline, .-launcher_fault_trampoline

        .section .note.GNU-stack,"",%progbits

#if PROPERTY_BTI || PROPERTY_PAC
// NT_GNU_PROPERTY_TYPE_0 with GNU_PROPERTY_AARCH64_FEATURE_1_AND: the linker keeps a feature in
// the executable only when every input object has it.
        .pushsection .note.gnu.property, "a"
        .p2align 3
        .long   4                       // name size
        .long   16                      // descriptor size
        .long   5                       // NT_GNU_PROPERTY_TYPE_0
        .asciz  "GNU"
        .long   0xc0000000              // GNU_PROPERTY_AARCH64_FEATURE_1_AND
        .long   4                       // data size
        .long   PROPERTY_BTI | PROPERTY_PAC
        .long   0                       // padding to 8 bytes
        .popsection
#endif
