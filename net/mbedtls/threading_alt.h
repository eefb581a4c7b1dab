#ifndef SV_MBEDTLS_THREADING_ALT_H
#define SV_MBEDTLS_THREADING_ALT_H
/* Mbed TLS keeps this structure inside its own contexts; the host fills in
   the functions that give it meaning (a heap-allocated std::mutex). */
typedef struct mbedtls_threading_mutex_t {
    void* impl;
    char is_valid;
} mbedtls_threading_mutex_t;
#endif
