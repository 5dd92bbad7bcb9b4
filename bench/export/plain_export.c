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

typedef struct
{
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

typedef struct
{
    cell_t *cells;
    size_t count;
    int merge[4];
    const char *merge_text;
} sheet_t;

/* The whole file, NUL-terminated; NULL when it cannot be read. */
static char *read_file(const char *path)
{
    FILE *in = fopen(path, "rb");
    if (!in)
        return NULL;
    fseek(in, 0, SEEK_END);
    long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    char *data = malloc((size_t)size + 1);
    if (fread(data, 1, (size_t)size, in) != (size_t)size)
        return NULL;
    fclose(in);
    data[size] = '\0';
    return data;
}

/* Splits line at tabs into at most 6 fields; returns how many. */
static int split_fields(char *line, char *field[6])
{
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
    return n;
}

/* Parses the CELLS text in place; the cells point into data. */
static void parse_cells(char *data, sheet_t *sheet)
{
    size_t capacity = 1 << 16;
    sheet->cells = malloc(capacity * sizeof *sheet->cells);
    sheet->count = 0;
    sheet->merge_text = NULL;
    memset(sheet->merge, 0, sizeof sheet->merge);
    for (char *line = data; *line;) {
        char *end = strchr(line, '\n');
        if (end)
            *end = '\0';
        char *field[6];
        int n = split_fields(line, field);
        if (strcmp(field[0], "merge") == 0 && n >= 6) {
            for (int i = 0; i < 4; ++i)
                sheet->merge[i] = atoi(field[i + 1]);
            sheet->merge_text = field[5];
        } else if (n >= 5) {
            if (sheet->count == capacity) {
                capacity *= 2;
                sheet->cells = realloc(sheet->cells, capacity * sizeof *sheet->cells);
            }
            cell_t c
                = { atoi(field[0]), atoi(field[1]), atoi(field[3]), field[2][0], field[4], atof(field[4]) };
            sheet->cells[sheet->count++] = c;
        }
        if (!end)
            break;
        line = end + 1;
    }
}

static void merge_header(lxw_worksheet *ws, const sheet_t *sheet, const char *text)
{
    const int *m = sheet->merge;
    worksheet_merge_range(ws, m[0] - 1, m[1] - 1, m[2] - 1, m[3] - 1, text, NULL);
}

static lxw_error write_book(const char *path, const sheet_t *sheet)
{
    lxw_workbook_options options = { .constant_memory = LXW_TRUE, .tmpdir = NULL };
    lxw_workbook *book = workbook_new_opt(path, &options);
    lxw_worksheet *ws = workbook_add_worksheet(book, NULL);
    lxw_format *formats[3] = { NULL, workbook_add_format(book), workbook_add_format(book) };
    for (int i = 1; i < 3; ++i) {
        format_set_font_name(formats[i], "Calibri");
        format_set_align(formats[i], LXW_ALIGN_CENTER);
        format_set_align(formats[i], LXW_ALIGN_VERTICAL_CENTER);
    }
    format_set_font_color(formats[2], LXW_COLOR_RED);

    const char *merge_text = sheet->merge_text;
    for (size_t i = 0; i < sheet->count; ++i) {
        const cell_t *c = &sheet->cells[i];
        /* The merge belongs to the header row; write it before row 2 starts. */
        if (merge_text && c->row == 2) {
            merge_header(ws, sheet, merge_text);
            merge_text = NULL;
        }
        if (c->kind == 'n')
            worksheet_write_number(ws, c->row - 1, c->col - 1, c->number, formats[c->fmt]);
        else
            worksheet_write_string(ws, c->row - 1, c->col - 1, c->text, formats[c->fmt]);
    }
    if (merge_text)
        merge_header(ws, sheet, merge_text);
    return workbook_close(book);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: plain_export CELLS OUT.xlsx\n");
        return 2;
    }
    char *data = read_file(argv[1]);
    if (!data)
        return 1;
    sheet_t sheet;
    parse_cells(data, &sheet);

    reset_peak();
    const long before = status_kb("VmRSS:");
    struct timespec t0, t1, c0, c1;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
    lxw_error error = write_book(argv[2], &sheet);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    const long peak = status_kb("VmHWM:");
    printf("%.6f %.6f %ld\n", seconds(&t0, &t1), seconds(&c0, &c1), peak - before);
    free(sheet.cells);
    free(data);
    return error == LXW_NO_ERROR ? 0 : 1;
}
