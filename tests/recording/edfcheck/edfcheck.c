/*
 * edfcheck - reads an EDF file with EDFlib, an independent and strict EDF
 * reader, and prints what it found: the header as EDFlib understood it and
 * every sample of every signal in physical units. The recording tests run it
 * on the files the writer produced and compare its output with what the
 * simulated device generated.
 *
 * Output, one item per line: "key value" for the file, "key signal value"
 * for each signal, and "data signal v v v ..." with all physical samples.
 * A file EDFlib refuses gives "error <code>" and exit status 1. With -a
 * first, the annotations too: "annotation <onset s> <duration s> <text>"
 * (onsets from the start of the first data record).
 */
#include <edflib.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
    struct edf_hdr_struct hdr;
    int annotations = argc == 3 && argv[1][0] == '-' && argv[1][1] == 'a';
    if (argc != 2 && !annotations) {
        fprintf(stderr, "usage: edfcheck [-a] FILE\n");
        return 2;
    }
    if (edfopen_file_readonly(argv[argc - 1], &hdr,
                              annotations ? EDFLIB_READ_ALL_ANNOTATIONS : EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0) {
        printf("error %d\n", hdr.filetype);
        return 1;
    }
    printf("filetype %d\n", hdr.filetype);
    printf("signals %d\n", hdr.edfsignals);
    printf("records %lld\n", hdr.datarecords_in_file);
    printf("duration %lld\n", hdr.datarecord_duration);
    printf("patient %s\n", hdr.patient);
    printf("recording %s\n", hdr.recording);
    printf("start %04d-%02d-%02d %02d:%02d:%02d\n", hdr.startdate_year, hdr.startdate_month, hdr.startdate_day,
           hdr.starttime_hour, hdr.starttime_minute, hdr.starttime_second);
    for (long long a = 0; annotations && a < hdr.annotations_in_file; a++) {
        struct edf_annotation_struct annot;
        if (edf_get_annotation(hdr.handle, (int)a, &annot) != 0) break;
        printf("annotation %.4f %s %s\n", annot.onset / (double)EDFLIB_TIME_DIMENSION,
               annot.duration[0] ? annot.duration : "-", annot.annotation);
    }
    int status = 0;
    for (int s = 0; s < hdr.edfsignals; s++) {
        const struct edf_param_struct *p = &hdr.signalparam[s];
        printf("label %d %s\n", s, p->label);
        printf("transducer %d %s\n", s, p->transducer);
        printf("dimension %d %s\n", s, p->physdimension);
        printf("physmin %d %.9g\n", s, p->phys_min);
        printf("physmax %d %.9g\n", s, p->phys_max);
        printf("digmin %d %d\n", s, p->dig_min);
        printf("digmax %d %d\n", s, p->dig_max);
        printf("prefilter %d %s\n", s, p->prefilter);
        printf("spr %d %d\n", s, p->smp_in_datarecord);
        printf("samples %d %lld\n", s, p->smp_in_file);
        long long n = p->smp_in_file;
        double *buffer = (double *)malloc((size_t)(n > 0 ? n : 1) * sizeof(double));
        if (buffer == NULL) return 3;
        int got = n > 0 ? edfread_physical_samples(hdr.handle, s, (int)n, buffer) : 0;
        if (got != (int)n) {
            printf("readerror %d %d\n", s, got);
            status = 1;
        }
        printf("data %d", s);
        for (int i = 0; i < got; i++) printf(" %.10g", buffer[i]);
        printf("\n");
        free(buffer);
    }
    edfclose_file(hdr.handle);
    return status;
}
