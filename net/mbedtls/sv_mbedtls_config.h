#ifndef SV_MBEDTLS_CONFIG_H
#define SV_MBEDTLS_CONFIG_H
/* Added on top of Mbed TLS's default configuration: the host plugs its own
   locks in through the alternative threading hooks. */
#define MBEDTLS_THREADING_C
#define MBEDTLS_THREADING_ALT
#endif
