#pragma once
// pxlib as an independent Paradox reader and writer for tests and benchmarks.
extern "C" {
#include <paradox.h>
}

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace pxio {

struct Value {
    bool isNull = true;
    long l = 0;     // short, long, autoinc, date, time, logical
    double d = 0;   // number, currency, timestamp
    std::string s;  // alpha
    static Value ofLong(long v)
    {
        Value x;
        x.isNull = false;
        x.l = v;
        return x;
    }
    static Value ofDouble(double v)
    {
        Value x;
        x.isNull = false;
        x.d = v;
        return x;
    }
    static Value ofText(std::string v)
    {
        Value x;
        x.isNull = false;
        x.s = std::move(v);
        return x;
    }
};

struct FieldDef {
    std::string name;
    char type;
    int len;
};

inline bool isDoubleType(char t) { return t == pxfNumber || t == pxfCurrency || t == pxfTimestamp; }

// Writes a non-indexed table with pxlib; rows[i][j] is field j of record i.
inline void writeTable(const std::string& path, const std::vector<FieldDef>& defs,
                       const std::vector<std::vector<Value>>& rows)
{
    pxdoc_t* doc = PX_new();
    auto* f = static_cast<pxfield_t*>(doc->malloc(doc, int(defs.size() * sizeof(pxfield_t)), const_cast<char*>("fields")));
    int recSize = 0;
    for (size_t i = 0; i < defs.size(); ++i) {
        f[i].px_fname = PX_strdup(doc, defs[i].name.c_str());
        f[i].px_ftype = defs[i].type;
        f[i].px_flen = defs[i].len;
        f[i].px_fdc = 0;
        recSize += defs[i].len;
    }
    if (PX_create_file(doc, f, int(defs.size()), path.c_str(), pxfFileTypNonIndexDB) < 0) {
        PX_delete(doc);
        throw std::runtime_error("pxlib cannot create " + path);
    }
    std::vector<char> rec(static_cast<size_t>(recSize));
    for (const auto& row : rows) {
        std::memset(rec.data(), 0, rec.size());
        int off = 0;
        for (size_t j = 0; j < defs.size(); ++j) {
            const Value& v = row[j];
            char* p = rec.data() + off;
            const FieldDef& d = defs[j];
            off += d.len;
            if (v.isNull)
                continue;
            switch (d.type) {
            case pxfAlpha: PX_put_data_alpha(doc, p, d.len, const_cast<char*>(v.s.c_str())); break;
            case pxfShort: PX_put_data_short(doc, p, d.len, short(v.l)); break;
            case pxfLogical: PX_put_data_byte(doc, p, d.len, char(v.l)); break;
            case pxfNumber:
            case pxfCurrency:
            case pxfTimestamp: PX_put_data_double(doc, p, d.len, v.d); break;
            default: PX_put_data_long(doc, p, d.len, int(v.l)); break;
            }
        }
        PX_put_record(doc, rec.data());
    }
    PX_close(doc);
    PX_delete(doc);
}

struct ReadResult {
    std::vector<FieldDef> fields;
    std::vector<std::vector<Value>> rows;
};

inline ReadResult readTable(const std::string& path)
{
    pxdoc_t* doc = PX_new();
    if (PX_open_file(doc, path.c_str()) < 0) {
        PX_delete(doc);
        throw std::runtime_error("pxlib cannot open " + path);
    }
    ReadResult r;
    int nf = PX_get_num_fields(doc);
    pxfield_t* f = PX_get_fields(doc);
    for (int i = 0; i < nf; ++i)
        r.fields.push_back({f[i].px_fname, f[i].px_ftype, f[i].px_flen});
    int n = PX_get_num_records(doc);
    for (int i = 0; i < n; ++i) {
        pxval_t** vals = PX_retrieve_record(doc, i);
        if (!vals)
            throw std::runtime_error("pxlib cannot read record " + std::to_string(i));
        std::vector<Value> row;
        for (int j = 0; j < nf; ++j) {
            Value v;
            v.isNull = vals[j]->isnull;
            if (!v.isNull) {
                if (f[j].px_ftype == pxfAlpha)
                    v.s.assign(vals[j]->value.str.val);
                else if (isDoubleType(f[j].px_ftype))
                    v.d = vals[j]->value.dval;
                else
                    v.l = vals[j]->value.lval;
            }
            if (f[j].px_ftype == pxfAlpha && vals[j]->value.str.val)
                doc->free(doc, vals[j]->value.str.val);
            doc->free(doc, vals[j]);
            row.push_back(std::move(v));
        }
        doc->free(doc, vals);
        r.rows.push_back(std::move(row));
    }
    PX_close(doc);
    PX_delete(doc);
    return r;
}

}  // namespace pxio
