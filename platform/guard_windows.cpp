// The structured exception guard on Windows. The 32-bit build registers a
// frame on the thread's exception chain (fs:[0]); the 64-bit build runs the
// guarded call through a small routine whose unwind information names a
// language handler, as compilers do for __try/__except. Both ask the filter
// first and, on EXCEPTION_EXECUTE_HANDLER, unwind the inner frames and resume
// in GuardedCall.
#include "platform.h"

#ifndef EXCEPTION_UNWINDING
#define EXCEPTION_UNWINDING 0x2
#endif
#ifndef EXCEPTION_EXIT_UNWIND
#define EXCEPTION_EXIT_UNWIND 0x4
#endif

#if defined(__i386__)

// Layout of the system's EXCEPTION_REGISTRATION_RECORD (next, handler),
// followed by what the handler needs to decide and to come back.
struct GuardFrame {
    GuardFrame *next;
    void *handler;
    GuardFilter filter;
    volatile DWORD code;
    void *resume[5];   // __builtin_setjmp buffer: frame, resume address, stack, spare
};

static GuardFrame *ChainHead(void)
{
    GuardFrame *head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

static void SetChainHead(GuardFrame *head)
{
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardFrameHandler(EXCEPTION_RECORD *record,
                                                            void *establisher, CONTEXT *context,
                                                            void *)
{
    GuardFrame *frame = (GuardFrame *)establisher;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    EXCEPTION_POINTERS pointers = {record, context};
    LONG verdict = frame->filter(&pointers);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION)
        return ExceptionContinueExecution;
    if (verdict != EXCEPTION_EXECUTE_HANDLER)
        return ExceptionContinueSearch;
    frame->code = record->ExceptionCode;
    // Runs the unwind handlers of every frame registered after ours and
    // leaves ours at the head of the chain; then back into GuardedCall.
    RtlUnwind(frame, NULL, record, NULL);
    __builtin_longjmp(frame->resume, 1);
}

BOOL GuardedCall(GuardBody body, void *context, GuardFilter filter, INT *result)
{
    volatile GuardFrame frame;
    frame.handler = (void *)GuardFrameHandler;
    frame.filter = filter;
    frame.code = 0;
    if (__builtin_setjmp((void **)frame.resume) != 0) {
        SetChainHead(frame.next);
        *result = (INT)frame.code;
        return FALSE;
    }
    frame.next = ChainHead();
    SetChainHead((GuardFrame *)&frame);
    INT value = body(context);
    SetChainHead(frame.next);
    *result = value;
    return TRUE;
}

#elif defined(__x86_64__)

struct GuardRecord {
    GuardFilter filter;
    DWORD code;
    INT faulted;
};

extern "C" INT GuardTrampoline(GuardBody body, void *context, GuardRecord *record);
extern "C" char GuardTrampolineResume[];

// GuardTrampoline(body, context, record): keeps record at [rsp+32] of its
// frame, calls body(context) and returns its result. Its unwind information
// names GuardLanguageHandler for faults inside the call; an unwind that the
// handler starts resumes at GuardTrampolineResume with rax = 0.
__asm__(
    ".text\n"
    ".globl GuardTrampoline\n"
    ".def GuardTrampoline; .scl 2; .type 32; .endef\n"
    ".seh_proc GuardTrampoline\n"
    "GuardTrampoline:\n"
    "    pushq %rbp\n"
    "    .seh_pushreg %rbp\n"
    "    subq $48, %rsp\n"
    "    .seh_stackalloc 48\n"
    "    .seh_endprologue\n"
    "    .seh_handler GuardLanguageHandler, @except\n"
    "    movq %r8, 32(%rsp)\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    callq *%rax\n"
    "    nop\n"
    ".globl GuardTrampolineResume\n"
    "GuardTrampolineResume:\n"
    "    addq $48, %rsp\n"
    "    popq %rbp\n"
    "    ret\n"
    ".seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION GuardLanguageHandler(EXCEPTION_RECORD *exception,
                                                      void *establisher, CONTEXT *context,
                                                      DISPATCHER_CONTEXT *dispatcher)
{
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    GuardRecord *record = *(GuardRecord **)((char *)establisher + 32);
    EXCEPTION_POINTERS pointers = {exception, context};
    LONG verdict = record->filter(&pointers);
    if (verdict == EXCEPTION_CONTINUE_EXECUTION)
        return ExceptionContinueExecution;
    if (verdict != EXCEPTION_EXECUTE_HANDLER)
        return ExceptionContinueSearch;
    record->code = exception->ExceptionCode;
    record->faulted = 1;
    RtlUnwindEx(establisher, (void *)GuardTrampolineResume, exception, NULL, context,
                dispatcher->HistoryTable);
    return ExceptionContinueSearch;   // RtlUnwindEx does not come back
}

BOOL GuardedCall(GuardBody body, void *context, GuardFilter filter, INT *result)
{
    volatile GuardRecord record;
    record.filter = filter;
    record.code = 0;
    record.faulted = 0;
    INT value = GuardTrampoline(body, context, (GuardRecord *)&record);
    if (record.faulted) {
        *result = (INT)record.code;
        return FALSE;
    }
    *result = value;
    return TRUE;
}

#else
#error "The structured exception guard is written for x86 and x86-64 only."
#endif
