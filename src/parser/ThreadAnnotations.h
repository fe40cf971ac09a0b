// Lock annotations that clang's -Wthread-safety checks; empty elsewhere
// (GCC has no such analysis), where they are documentation only.
#ifndef PDFPARSE_PARSER_THREADANNOTATIONS_H_
#define PDFPARSE_PARSER_THREADANNOTATIONS_H_

#if defined(__clang__)
#define PDFPARSE_GUARDED_BY(lock) __attribute__((guarded_by(lock)))
#define PDFPARSE_NO_THREAD_SAFETY_ANALYSIS __attribute__((no_thread_safety_analysis))
#else
#define PDFPARSE_GUARDED_BY(lock)
#define PDFPARSE_NO_THREAD_SAFETY_ANALYSIS
#endif

#endif  // PDFPARSE_PARSER_THREADANNOTATIONS_H_
