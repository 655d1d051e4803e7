/* answer.c - a library that a test loads at run time. */
int qdOsTestAnswer(void);
int qdOsTestAnswer(void) { return 42; }
