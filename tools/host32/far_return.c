/* Whether this kernel runs 32-bit code (IA-32 emulation): a far return into
   the 32-bit user code selector, there one 32-bit system call through
   int 0x80 (getpid), then a 32-bit "retf" back. A kernel with IA-32
   emulation off faults on the far return or on the int 0x80 (it has no
   gate for it). Prints "yes" (exit 0) or "no" (exit 1). Built static and
   not position independent, so that the way back lies below 4 GiB. */
#define _GNU_SOURCE
#include <setjmp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

static sigjmp_buf back;
static void on_fault(int sig) { (void)sig; siglongjmp(back, 1); }

int main(void) {
    unsigned char *low = mmap(NULL, 65536, PROT_READ | PROT_WRITE | PROT_EXEC,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (low == MAP_FAILED) { puts("error: no memory below 4 GiB"); return 2; }
    static char alt[65536];
    stack_t ss = {.ss_sp = alt, .ss_size = sizeof alt};
    sigaltstack(&ss, NULL);
    struct sigaction sa; memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fault; sa.sa_flags = SA_ONSTACK;
    sigaction(SIGSEGV, &sa, NULL); sigaction(SIGBUS, &sa, NULL); sigaction(SIGILL, &sa, NULL);
    /* 32-bit code: mov eax, 20 (getpid); int 0x80; retf */
    static const unsigned char code[] = {0xB8, 0x14, 0x00, 0x00, 0x00, 0xCD, 0x80, 0xCB};
    memcpy(low, code, sizeof code);
    uint32_t *frame = (uint32_t *)(low + 65536 - 64);
    if (sigsetjmp(back, 1)) { puts("no"); return 1; }
    uint64_t ok = 0;
    uint32_t pid = 0;
    __asm__ volatile(
        "mov %%rsp, %%r12\n\t"
        "mov %[frame], %%rsp\n\t"
        "lea 1f(%%rip), %%rax\n\t"
        "movq %[code], 0(%%rsp)\n\t"      /* lretq: RIP */
        "movq $0x23, 8(%%rsp)\n\t"         /* lretq: CS, 32-bit user code */
        "movl %%eax, 16(%%rsp)\n\t"        /* retf in 32-bit: EIP */
        "movl $0x33, 20(%%rsp)\n\t"        /* retf in 32-bit: CS, 64-bit user code */
        "lretq\n"
        "1:\n\t"
        "mov %%r12, %%rsp\n\t"
        "movq $1, %[ok]\n\t"
        "movl %%eax, %[pid]\n\t"
        : [ok] "=m"(ok), [pid] "=m"(pid)
        : [frame] "r"(frame), [code] "r"((uint64_t)(uintptr_t)low)
        : "rax", "rcx", "rdx", "r8", "r9", "r10", "r11", "r12", "memory", "cc");
    /* The system call must have answered as the 64-bit one does. */
    ok = ok && pid == (uint32_t)getpid();
    puts(ok ? "yes" : "no");
    return ok ? 0 : 1;
}
