/* The C interface as a C program sees it: every value type through real members, written-back
 * arguments, failures, events, introspection, and a payment against the simulator on a
 * pseudo-terminal (the korvelcom tool's simulator). */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "korvelcom/korvelcom.h"

static int failures;
static const char* tool = KORVEL_CLI_PATH;
static int given; /* this program's own arguments, which GetCommandLine splits */
static char** argument;
static void check(int ok, const char* what, int line) {
    if (!ok)
        fprintf(stderr, "%s:%d: failed: %s (last error: %s)\n", __FILE__, line, what,
                korvelcom_last_error());
    failures += !ok;
}
#define CHECK(cond) check(!!(cond), #cond, __LINE__)

static korvelcom_value text(const char* s) {
    return (korvelcom_value){.type = KORVELCOM_STRING, .bytes = (char*)s, .size = strlen(s)};
}

static korvelcom_value number(int32_t type, int32_t n) {
    return (korvelcom_value){.type = type, .number = n};
}

static int is_text(const korvelcom_value* v, const char* s, size_t size) {
    return v->type == KORVELCOM_STRING && v->size == size && memcmp(v->bytes, s, size) == 0;
}

struct seen {
    int received, errors;
};

/* Counts the events; an error's tag is replaced, which replaces ReceiveError. */
static void on_event(void* user, korvelcom_event event, korvelcom_value* error_type) {
    struct seen* s = user;
    if (event == KORVELCOM_RECEIVED_EVENT) ++s->received;
    if (event == KORVELCOM_ERROR_EVENT && is_text(error_type, "errorPOSAmountLength", 20)) {
        ++s->errors;
        korvelcom_value_set_string(error_type, "seen", 4);
    }
}

static void values_and_failures(korvelcom_control* c) {
    korvelcom_value r = {0};
    /* A string with code-0 bytes keeps them: "a\0b" and its LRC. */
    korvelcom_value arg = {.type = KORVELCOM_STRING, .bytes = "a\0b", .size = 3};
    CHECK(korvelcom_call(c, "addLRC8toString", &arg, 1, &r) == KORVELCOM_OK);
    CHECK(r.size == 4 && r.owned && memcmp(r.bytes, "a\0b\x03", 4) == 0);
    korvelcom_value_clear(&r);
    /* A byte array with its lower bound, the range written back (cut to the array's end). */
    korvelcom_value args[3] = {{.type = KORVELCOM_BYTES, .lbound = 1, .bytes = "abc", .size = 3},
                               number(KORVELCOM_I32, 0),
                               number(KORVELCOM_I32, 99)};
    CHECK(korvelcom_call(c, "cLRC8buffer", args, 3, &r) == KORVELCOM_OK);
    CHECK(r.type == KORVELCOM_I16 && r.number == 96);
    CHECK(args[1].type == KORVELCOM_I32 && args[1].number == 1 && args[2].number == 3);
    /* Arrays: GetCommandLine re-dimensions its argument from 0 and returns a copy. */
    korvelcom_value none = {0};
    CHECK(korvelcom_call(c, "GetCommandLine", &none, 1, &r) == KORVELCOM_OK);
    CHECK(r.type == KORVELCOM_ARRAY && r.lbound == 0 && r.size == (size_t)given &&
          none.type == KORVELCOM_ARRAY && none.size == (size_t)given);
    CHECK(is_text(&r.items[0], "", 0) &&
          (given < 2 || is_text(&none.items[1], argument[1], strlen(argument[1]))));
    korvelcom_value_clear(&r);
    korvelcom_value_clear(&none);
    /* Booleans and 16-bit integers; text converts to the property's type. */
    korvelcom_value port = text("4");
    CHECK(korvelcom_put(c, "CommPort", &port) == KORVELCOM_OK);
    CHECK(korvelcom_get(c, "commport", &r) == KORVELCOM_OK && r.type == KORVELCOM_I16 &&
          r.number == 4);
    CHECK(korvelcom_get(c, "ErrorEnabled", &r) == KORVELCOM_OK && r.type == KORVELCOM_BOOL);
    /* Failures: each its status, a message, and nothing changed. */
    korvelcom_value bad = text("x"), minus = number(KORVELCOM_I16, -1);
    CHECK(korvelcom_put(c, "CommPort", &bad) == KORVELCOM_BAD_ARGS);
    CHECK(strstr(korvelcom_last_error(), "CommPort") != NULL);
    CHECK(korvelcom_call(c, "WaitTimeout", NULL, 0, NULL) == KORVELCOM_BAD_ARGS);
    CHECK(korvelcom_call(c, "NoSuchMember", NULL, 0, NULL) == KORVELCOM_NO_MEMBER);
    CHECK(korvelcom_invoke(c, "POSAutoCode", KORVELCOM_GET, &minus, 1, &r) == KORVELCOM_FAILED);
    CHECK(korvelcom_get(c, "CommPort", &r) == KORVELCOM_OK && r.number == 4);
    CHECK(korvelcom_call(NULL, "CommOpen", NULL, 0, NULL) == KORVELCOM_BAD_ARGS);
}

static void introspection(void) {
    int found = 0;
    for (size_t i = 0; i < korvelcom_member_count(); ++i) {
        korvelcom_member m;
        korvelcom_param p;
        CHECK(korvelcom_member_info(i, &m) == KORVELCOM_OK);
        if (strcmp(m.name, "CommInit") == 0 && m.kind == KORVELCOM_METHOD) {
            found += m.dispatch_id == 5 && m.param_count == 2 && m.result_type == KORVELCOM_BOOL;
            CHECK(korvelcom_param_info(i, 1, NULL) == KORVELCOM_BAD_ARGS);
            CHECK(korvelcom_param_info(i, 1, &p) == KORVELCOM_OK);
            found += strcmp(p.name, "strSettings") == 0 && p.optional && p.by_ref &&
                     !p.writes_back && is_text(&p.default_value, "", 0);
        }
        if (strcmp(m.name, "GetCommandLine") == 0) {
            CHECK(korvelcom_param_info(i, 0, &p) == KORVELCOM_OK);
            found += m.result_type == KORVELCOM_ANY && p.type == KORVELCOM_ARRAY && p.writes_back;
        }
    }
    CHECK(found == 3);
    korvelcom_member m;
    CHECK(korvelcom_member_info(korvelcom_member_count(), &m) == KORVELCOM_BAD_ARGS);
}

/* A basic payment against the simulator on a pseudo-terminal, port 7 mapped to it. */
static void payment(korvelcom_control* c, struct seen* s) {
    int out[2];
    CHECK(pipe(out) == 0);
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(out[1], 1);
        execl(tool, tool, "sim", "--pty", "--quiet", "--responder", "payment", (char*)NULL);
        _exit(127);
    }
    close(out[1]);
    char device[256] = "";
    FILE* line = fdopen(out[0], "r");
    CHECK(line && fgets(device, sizeof device, line) && strncmp(device, "/dev/", 5) == 0);
    device[strcspn(device, "\n")] = '\0';
    korvelcom_value seven = number(KORVELCOM_I16, 7), amount = text("00001500"), r = {0};
    CHECK(korvelcom_port_map_set(7, device) == KORVELCOM_OK);
    CHECK(korvelcom_port_map_lookup(7, &r) == KORVELCOM_OK && is_text(&r, device, strlen(device)));
    korvelcom_value_clear(&r);
    CHECK(korvelcom_put(c, "CommPort", &seven) == KORVELCOM_OK);
    CHECK(korvelcom_put(c, "POSAmount", &amount) == KORVELCOM_OK);
    CHECK(korvelcom_call(c, "POSMessage", NULL, 0, &r) == KORVELCOM_OK && r.size > 0);
    korvelcom_value_clear(&r);
    CHECK(korvelcom_get(c, "EFTposAmount", &r) == KORVELCOM_OK && is_text(&r, "00001500", 8));
    korvelcom_value_clear(&r);
    CHECK(s->received == 1);
    /* A refused field: the event, whose handler's change is the control's ReceiveError. */
    korvelcom_value on = number(KORVELCOM_BOOL, 1), wrong = text("12");
    CHECK(korvelcom_put(c, "ErrorEnabled", &on) == KORVELCOM_OK);
    CHECK(korvelcom_put(c, "POSAmount", &wrong) == KORVELCOM_OK);
    CHECK(s->errors == 1);
    CHECK(korvelcom_get(c, "ReceiveError", &r) == KORVELCOM_OK && is_text(&r, "seen", 4));
    korvelcom_value_clear(&r);
    CHECK(korvelcom_call(c, "CommClose", NULL, 0, NULL) == KORVELCOM_OK);
    if (sim > 0 && kill(sim, SIGTERM) == 0) waitpid(sim, NULL, 0);
    if (line) fclose(line);
}

int main(int argc, char** argv) {
    given = argc;
    argument = argv;
    CHECK(korvelcom_interface_version() == KORVELCOM_C_INTERFACE_VERSION);
    CHECK(strcmp(korvelcom_version(), "3.0.0") == 0);
    korvelcom_control* c = korvelcom_create();
    CHECK(c != NULL);
    struct seen s = {0, 0};
    korvelcom_set_event_callback(c, on_event, &s);
    values_and_failures(c);
    introspection();
    payment(c, &s);
    korvelcom_destroy(c);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
