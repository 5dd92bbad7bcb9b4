/* The baseline: the report's cells written straight with libxlsxwriter in constant-memory
 * mode, from UTF-8 texts prepared beforehand.
 *
 * plain_export CELLS OUT.xlsx
 * CELLS holds one cell per line: "row\tcolumn\tkind\tformat\ttext" (kind s = text, n = number;
 * format 0 = none, 1 = centred, 2 = red), and "merge\tr1\tc1\tr2\tc2\ttext" lines. Prints
 * "wall_seconds cpu_seconds peak_growth_kb". */
#include <xlsxwriter.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct {
    int row, col, fmt;
    char kind;
    const char *text;
    double number;
} cell_t;

static long status_kb(const char *key)
{
    FILE *f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    size_t n = strlen(key);
    while (f && fgets(line, sizeof line, f)) {
        if (strncmp(line, key, n) == 0) {
            kb = atol(line + n);
            break;
        }
    }
    if (f)
        fclose(f);
    return kb;
}

static double seconds(const struct timespec *from, const struct timespec *to)
{
    return (double)(to->tv_sec - from->tv_sec) + (double)(to->tv_nsec - from->tv_nsec) / 1e9;
}

static void reset_peak(void)
{
    FILE *f = fopen("/proc/self/clear_refs", "w");
    if (f) {
        fputs("5", f);
        fclose(f);
    }
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: plain_export CELLS OUT.xlsx\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in)
        return 1;
    fseek(in, 0, SEEK_END);
    long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    char *data = malloc((size_t)size + 1);
    if (fread(data, 1, (size_t)size, in) != (size_t)size)
        return 1;
    fclose(in);
    data[size] = '\0';

    size_t count = 0, capacity = 1 << 16;
    cell_t *cells = malloc(capacity * sizeof *cells);
    int merge[4] = {0, 0, 0, 0};
    const char *mergeText = NULL;
    for (char *line = data; *line;) {
        char *end = strchr(line, '\n');
        if (end)
            *end = '\0';
        char *field[6];
        int n = 0;
        for (char *p = line; n < 6; ++n) {
            field[n] = p;
            char *tab = strchr(p, '\t');
            if (!tab) {
                ++n;
                break;
            }
            *tab = '\0';
            p = tab + 1;
        }
        if (strcmp(field[0], "merge") == 0 && n >= 6) {
            for (int i = 0; i < 4; ++i)
                merge[i] = atoi(field[i + 1]);
            mergeText = field[5];
        } else if (n >= 5) {
            if (count == capacity) {
                capacity *= 2;
                cells = realloc(cells, capacity * sizeof *cells);
            }
            cell_t c = {atoi(field[0]), atoi(field[1]), atoi(field[3]), field[2][0], field[4], atof(field[4])};
            cells[count++] = c;
        }
        if (!end)
            break;
        line = end + 1;
    }

    reset_peak();
    const long before = status_kb("VmRSS:");
    struct timespec t0, t1, c0, c1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);

    lxw_workbook_options options = {.constant_memory = LXW_TRUE, .tmpdir = NULL};
    lxw_workbook *book = workbook_new_opt(argv[2], &options);
    lxw_worksheet *sheet = workbook_add_worksheet(book, NULL);
    lxw_format *formats[3] = {NULL, workbook_add_format(book), workbook_add_format(book)};
    for (int i = 1; i < 3; ++i) {
        format_set_font_name(formats[i], "Calibri");
        format_set_align(formats[i], LXW_ALIGN_CENTER);
        format_set_align(formats[i], LXW_ALIGN_VERTICAL_CENTER);
    }
    format_set_font_color(formats[2], LXW_COLOR_RED);

    for (size_t i = 0; i < count; ++i) {
        const cell_t *c = &cells[i];
        /* The merge belongs to the header row; write it before row 2 starts. */
        if (mergeText && c->row == 2) {
            worksheet_merge_range(sheet, merge[0] - 1, merge[1] - 1, merge[2] - 1, merge[3] - 1, mergeText, NULL);
            mergeText = NULL;
        }
        if (c->kind == 'n')
            worksheet_write_number(sheet, c->row - 1, c->col - 1, c->number, formats[c->fmt]);
        else
            worksheet_write_string(sheet, c->row - 1, c->col - 1, c->text, formats[c->fmt]);
    }
    if (mergeText)
        worksheet_merge_range(sheet, merge[0] - 1, merge[1] - 1, merge[2] - 1, merge[3] - 1, mergeText, NULL);
    lxw_error error = workbook_close(book);

    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    const long peak = status_kb("VmHWM:");
    printf("%.6f %.6f %ld\n", seconds(&t0, &t1), seconds(&c0, &c1), peak - before);
    free(cells);
    free(data);
    return error == LXW_NO_ERROR ? 0 : 1;
}
