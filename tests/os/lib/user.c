/* user.c - a library that needs the one of answer.c. */
int qdOsTestAnswer(void);
int qdOsTestUser(void);
int qdOsTestUser(void) { return qdOsTestAnswer() + 1; }
