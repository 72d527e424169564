#ifndef ENGINE_SAMPLES_SAMPLERECEIVER_H
#define ENGINE_SAMPLES_SAMPLERECEIVER_H

namespace SarvelonMediaKit {

class Sample;

// A link in a stream's ring of receivers (the stream, its filters, the demultiplexer's parser):
// it takes a sample and passes what it makes of it to the next receiver.
class SampleReceiver {
public:
    SampleReceiver() : next_(nullptr) {}
    virtual ~SampleReceiver() {}

    SampleReceiver(const SampleReceiver&) = delete;
    SampleReceiver& operator=(const SampleReceiver&) = delete;

    // Hands the sample to this receiver's DoReceiveSample.
    void Receive(Sample& sample) { DoReceiveSample(sample); }
    // Hands the sample to the next receiver; dropped when there is none.
    void SendSampleDownstream(Sample& sample) {
        if (next_) {
            next_->Receive(sample);
        }
    }

    // Not owned; may be null.
    SampleReceiver* GetNext() const { return next_; }
    void SetNext(SampleReceiver* next) { next_ = next; }

    // The receiver's work.
    virtual void DoReceiveSample(Sample& sample) = 0;

private:
    SampleReceiver* next_;
};

}  // namespace SarvelonMediaKit

#endif
